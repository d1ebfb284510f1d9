// The diagnostic log, one message per line (kLogPath). Text that comes from
// outside the gate (the command line, the role service's reply) is logged
// with log_text, which writes it as loggable does.
#pragma once

int log_param(const char* message, int force);
int log_text(const char* text, int force);
// A refused command line and the refusal's line, written whatever the
// policy's "enable_log".
void log_refusal(const char* command);

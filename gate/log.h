// The diagnostic log, one message per line (kLogPath). Text that comes from
// outside the gate (the command line, the role service's reply) is logged
// with log_text, which writes it as loggable does.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

int log_param(const char* message, int force);
// Where the administrator's dry runs keep the log's lines: while set, every
// message (forced or not) is appended to it and nothing is written. The
// gate never sets it.
extern std::vector<std::string>* log_capture;
int log_text(const char* text, int force);
// A refused command line and the refusal's line, written whatever the
// policy's "enable_log".
void log_refusal(const char* command);
// An allowed command's lines: the command line and the line of the section
// (index into kSectionNames) that allowed it. True when both reached the log
// file; false when they were not to be written (force 0 and "enable_log" 0)
// or could not be.
bool log_allowed(const char* command, unsigned section, int force);
// Writes the parts, joined (at most 8), to standard error in one write(),
// without stdio and without allocating: safe in a signal handler. Error texts
// for it come from strerrordesc_np, which translates nothing.
void say_on_stderr(std::initializer_list<const char*> parts);

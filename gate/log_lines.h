// The log's fixed lines. A decided command line is logged before its
// verdict's line; a refusal is logged whatever the policy's "enable_log".
#pragma once

constexpr const char kLogNotLoaded[] = "load json failed, skip cmd\n";
constexpr const char kLogRefused[] = "check failed, skip cmd\n";
constexpr const char kLogScriptsPassed[] = "pass the scripts check, run cmd now\n";
constexpr const char kLogUiPassed[] = "pass the ui check, run cmd now\n";
constexpr const char kLogAncestorMatched[] = "proc_name match";
// An allowed command that the shell could not be started for.
constexpr const char kLogExecFailed[] = "cannot start /bin/sh, cmd not run\n";

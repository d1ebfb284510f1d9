// What gives a shell command line a meaning beyond one simple command: the
// metacharacters that the policy tool looks for in patterns and in refused
// command lines, and what the shell makes of them.
#pragma once

#include <string>

// A second command, a pipe, a substitution, a redirection, a background job;
// in the order in which findings list them.
constexpr char kShellMetachars[] = ";|&`$<>\n";

// What the shell would run when a command line holds one of them.
constexpr char kShellMetacharMeaning[] =
    "a second command, a pipe, a substitution, a redirection or a background job";

// The shell metacharacters that text holds, each once, in kShellMetachars'
// order.
std::string shell_metachars_in(const std::string& text);

// Characters as a finding lists them: "\";\", \"|\", newline".
std::string listed_chars(const std::string& chars);

// "corvexin_policy suggest": white-list entries proposed from the refusals
// that the gate's log records.
#pragma once

#include <string>

// Reads the gate's log at path and prints, for each distinct refused command
// line, most refused first, how often it was refused and either a white-list
// entry that allows exactly that command after a role check, or why none is
// suggested: a warning, or a note when an entry of the policy at policy_path
// matches the command already. With json, standard output carries the
// entries alone as one JSON array, and the rest goes to standard error.
// 0 no warning, 1 warnings, 2 the log cannot be read.
int suggest_command(const std::string& path, const std::string& policy_path, bool json);

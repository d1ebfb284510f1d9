// "corvexin_policy suggest": white-list entries proposed from the refusals
// that the gate's log records.
#pragma once

#include <string>

// Reads the gate's log at path and prints, for each distinct refused command
// line, most refused first, how often it was refused and either a white-list
// entry that allows exactly that command after a role check, or a warning
// why none is suggested. With json, standard output carries the entries alone
// as one JSON array, and the warnings go to standard error. 0 an entry for
// every command, 1 warnings, 2 the log cannot be read.
int suggest_command(const std::string& path, bool json);

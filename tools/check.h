// "corvexin_policy check": what a policy file does that its writer may not
// expect, found by walking it the way the gate's decision reads it.
#pragma once

#include <string>
#include <vector>

#include "report.h"

// Checks one policy file ("-": standard input). When it is the installed
// policy, or with as_installed, also checks the files and directories the
// gate trusts with root, the file's own owner and mode judged as the
// installed policy's. shown_as: the file's name in the report (default path).
Report check_policy_file(const std::string& path, bool as_installed,
                         const std::string& shown_as = "");

// Checks each policy file of paths ("-": standard input) and prints the
// findings (as one JSON document when json is set). 0 clean, 1 warnings
// only, 2 errors (the worst of the files); with accept_warnings, warnings
// alone give 0.
int check_command(const std::vector<std::string>& paths, bool json, bool as_installed = false,
                  bool accept_warnings = false);

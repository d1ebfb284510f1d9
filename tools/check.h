// "corvexin_policy check": what a policy file does that its writer may not
// expect, found by walking it the way the gate's decision reads it.
#pragma once

#include <string>

// Checks the policy file at path and prints the findings (as JSON when json
// is set). When path is the installed policy, also checks the files and
// directories the gate trusts with root. 0 clean, 1 warnings only, 2 errors.
int check_command(const std::string& path, bool json);

// "corvexin_policy check": what a policy file does that its writer may not
// expect, found by walking it the way the gate's decision reads it.
#pragma once

#include <string>
#include <vector>

// Checks each policy file of paths ("-": standard input) and prints the
// findings (as one JSON document when json is set). When a path is the
// installed policy, also checks the files and directories the gate trusts
// with root. 0 clean, 1 warnings only, 2 errors (the worst of the files).
int check_command(const std::vector<std::string>& paths, bool json);

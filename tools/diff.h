// "corvexin_policy diff": what a change of policy lets in, and what it shuts
// out, proved on the exact models of the patterns (automaton.h).
#pragma once

#include <string>

// Writes on standard output what NEW admits that OLD did not and what it no
// longer admits; returns 0 same, 1 different, 2 error.
int policy_diff(const std::string& old_path, const std::string& new_path, bool json);

// "corvexin_policy diff": what one policy admits that another does not.
#pragma once

#include <ostream>
#include <string>

// Writes what NEW admits that OLD did not and what it no longer admits; returns 0 same, 1
// different, 2 error.
int policy_diff(const std::string& old_path, const std::string& new_path, bool json,
                std::ostream& out);

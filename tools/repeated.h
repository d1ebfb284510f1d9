// Member names given twice in one object. The gate's reader keeps the last
// value and silently drops the earlier one: a second "check_method" decides.
#pragma once

#include <string>

#include "report.h"

// Scans the policy text (comments allowed, as the reader allows them) up to
// the end of its first value, and reports every repeated member name.
void report_repeated_members(const std::string& text, Report& report);

// What the gate's reader takes from a policy file that a JSON reader would
// not, or reads otherwise than it looks: a member name given twice in one
// object (the reader keeps the last value and silently drops the earlier
// one, so a second "check_method" decides), and a number token outside
// JSON's grammar ("-" is read as 0, "01" as 1, "1." as 1.0).
#pragma once

#include <string>

#include "report.h"

// For a policy text that loads: reports every repeated member name and every
// such number token.
void report_document(const std::string& text, Report& report);

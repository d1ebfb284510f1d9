// Every class of finding that corvexin_policy reports: its code, its
// severity and what it means in one line. Reports take a finding's severity
// from here; corvexin_policy(8) describes each code at length.
#pragma once

#include <cstddef>
#include <string>

// A note tells what a reviewer should know but need not change; it leaves
// the exit status alone.
enum class Severity { kNote, kWarning, kError };

struct FindingClass {
  const char* code;  // stable name, e.g. "not-anchored"
  Severity severity;
  const char* meaning;
};
extern const FindingClass kFindingClasses[];
extern const size_t kFindingClassCount;
// The class of code; a code not in the table is a fault of the tool, which
// aborts.
const FindingClass& finding_class(const std::string& code);
// "error", "warning" or "note".
const char* severity_name(Severity severity);

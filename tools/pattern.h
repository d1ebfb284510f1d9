// What a white-list pattern lets through: POSIX basic regular expressions as
// the gate compiles them (regcomp without flags, glibc's syntax, in which
// "\|" separates alternatives and "\+", "\?" are operators).
#pragma once

#include <string>

// regerror's text when the pattern does not compile; empty when it does.
std::string compile_error(const std::string& pattern);

struct PatternShape {
  bool anchored_start = false;  // every top-level alternative begins with "^"
  bool anchored_end = false;    // every top-level alternative ends with "$"
  std::string metachars;        // shell metacharacters that a variable part admits
  std::string admitted_by;      // the first such part of the pattern
};

// For a pattern that compiles.
PatternShape pattern_shape(const std::string& pattern);

// True when the pattern, searched anywhere, matches every text: the empty
// pattern, ".*", "^", "x*" and the like.
bool matches_everything(const std::string& pattern);

// What a white-list pattern lets through: POSIX basic regular expressions as
// the gate's matcher (check_regexp) takes them, in glibc's syntax, in which
// "\|" separates alternatives and "\+", "\?" are operators.
#pragma once

#include <string>

struct PatternShape {
  bool anchored_start = false;  // every top-level alternative begins with "^"
  bool anchored_end = false;    // every top-level alternative ends with "$"
  std::string metachars;        // shell metacharacters that a variable part admits
  std::string admitted_by;      // the first such part of the pattern
};

// For a pattern that compiles (pattern_error is empty).
PatternShape pattern_shape(const std::string& pattern);

// True when the pattern, which compiles, matches every text as the gate
// searches it: the empty pattern, ".*", "^", "x*" and the like.
bool matches_everything(const std::string& pattern);

// The pattern that matches text and nothing else: anchored at both ends,
// every byte with a meaning of its own in basic syntax escaped.
std::string literal_pattern(const std::string& text);

// Most white-list patterns are literal command lines ("^uptime$") or a literal
// command followed by a simple argument pattern ("^/usr/bin/tool [-a-z0-9 ]*$").
// Compiling each with regcomp costs far more than the gate's other work, so
// these two kinds are answered here, exactly as regcomp/regexec would answer
// them; everything else, and every pattern that might not compile, is left to
// the regex engine. The subset is deliberately small.
//
// In a single-byte locale (the gate runs in the C locale) the basic syntax
// matches bytes: without REG_ICASE a byte that is not special stands for
// itself, "^" first anchors at the start of the text and "$" last at its end
// (without REG_NEWLINE a newline in the text is an ordinary byte).
#include "pattern_match.h"

#include <cstdlib>
#include <cstring>

bool special_in_pattern(char c) {
  return c == '\\' || c == '.' || c == '[' || c == '*' || c == '^' || c == '$' || c == '\0';
}

namespace {

// A literal unit at p: a byte that is not special, or a special byte escaped
// ("\." "\*" "\[" "\^" "\$" "\\"). Gives its length in the pattern and its
// byte, or 0 when p holds none. Every other escape is left to the regex
// engine: many are operators or GNU extensions ("\(" "\{" "\|" "\+" "\1" "\w"
// "\<"), and a trailing "\" does not compile.
size_t literal_unit(const char* p, char* byte) {
  if (!special_in_pattern(p[0])) {
    *byte = p[0];
    return 1;
  }
  if (p[0] == '\\' && p[1] != '\0' && strchr(".*[^$\\", p[1]) != nullptr) {
    *byte = p[1];
    return 2;
  }
  return 0;
}

// Whether a repetition ("*", "\{", "\+", "\?") starts at p: it would apply to
// the unit before it, which is then no longer a fixed part of every match.
bool repetition(const char* p) {
  return p[0] == '*' || (p[0] == '\\' && (p[1] == '{' || p[1] == '+' || p[1] == '?'));
}

// The end of the run of literal units that starts at p, none of them repeated.
const char* literal_run(const char* p) {
  char byte = 0;
  for (size_t n; (n = literal_unit(p, &byte)) != 0 && !repetition(p + n);) p += n;
  return p;
}

// When text starts with the bytes of the literal units [units, end): the text
// after them; otherwise null.
const char* skip_literal(const char* text, const char* units, const char* end) {
  char byte = 0;
  while (units < end) {
    units += literal_unit(units, &byte);
    if (*text != byte) return nullptr;  // byte is never NUL: stops at the text's end
    ++text;
  }
  return text;
}

// A printable ASCII byte that a bracket expression of the subset holds as
// itself (none of "[", which could start "[:", "[." or "[=", "]", "\", "-",
// "^").
bool bracket_byte(char c) {
  return c >= ' ' && c <= '~' && strchr("[]\\-^", c) == nullptr;
}

// The end of the bracket expression that starts at p when it belongs to the
// subset, otherwise null: "[", an optional "^", an optional "-", bytes and
// ascending ranges ("a-z"), an optional "-", "]", and at least one member.
const char* bracket_end(const char* p) {
  ++p;
  if (*p == '^') ++p;
  const char* members = p;
  if (*p == '-') ++p;
  while (bracket_byte(*p)) {
    if (p[1] == '-' && bracket_byte(p[2])) {
      if (p[0] > p[2]) return nullptr;  // regcomp: "Invalid range end"
      p += 3;
    } else {
      ++p;
    }
  }
  if (p[0] == '-' && p[1] == ']') ++p;
  return p != members && *p == ']' ? p + 1 : nullptr;
}

// Whether the rest of a pattern belongs to a subset of basic syntax that
// regcomp always accepts and that has no alternation: literal units, "." and
// bracket expressions of the subset, each followed by at most one "*", and a
// "$" at the very end.
bool rest_compiles(const char* p) {
  char byte = 0;
  while (*p != '\0') {
    if (p[0] == '$' && p[1] == '\0') return true;
    if (const size_t n = literal_unit(p, &byte)) {
      p += n;
    } else if (*p == '.') {
      ++p;
    } else if (*p == '[') {
      p = bracket_end(p);
      if (p == nullptr) return false;
    } else {
      return false;
    }
    if (*p == '*') ++p;
  }
  return true;
}

// A pattern that is all literal units [units, end), anchored as given.
int literal_match(const char* text, const char* units, const char* end, bool at_start,
                  bool at_end) {
  if (at_start) {
    const char* after = skip_literal(text, units, end);
    return after != nullptr && (!at_end || *after == '\0') ? 0 : 1;
  }
  if (at_end) {
    char byte = 0;
    size_t length = 0;
    for (const char* p = units; p < end; p += literal_unit(p, &byte)) ++length;
    const size_t size = strlen(text);
    return size >= length && skip_literal(text + size - length, units, end) != nullptr ? 0 : 1;
  }
  // Anywhere in the text. The units run to the pattern's end here, so without
  // escapes they are the very bytes to look for.
  if (strchr(units, '\\') == nullptr) return strstr(text, units) != nullptr ? 0 : 1;
  for (const char* start = text;; ++start) {
    if (skip_literal(start, units, end) != nullptr) return 0;
    if (*start == '\0') return 1;
  }
}

}  // namespace

int match_without_regex(const char* text, const char* pattern) {
  if (MB_CUR_MAX != 1) return kNeedsRegex;
  const bool at_start = pattern[0] == '^';
  const char* units = pattern + (at_start ? 1 : 0);
  const char* rest = literal_run(units);
  const bool at_end = rest[0] == '$' && rest[1] == '\0';
  if (rest[0] == '\0' || at_end) return literal_match(text, units, rest, at_start, at_end);
  // "^", a literal prefix and a rest that compiles: every match starts with
  // the prefix. (The text is looked at first: it usually differs at once.)
  if (at_start && rest != units && skip_literal(text, units, rest) == nullptr &&
      rest_compiles(rest))
    return 1;
  return kNeedsRegex;
}

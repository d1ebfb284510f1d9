// Shortcuts that answer some white-list patterns without the regular
// expression engine, with exactly the result that regcomp and regexec (basic
// syntax, no flags) would give.
#pragma once

// Whether a byte may have a meaning of its own in basic syntax: "\", ".",
// "[", "*", "^", "$" (and NUL, which ends a pattern). A backslash before one
// of the first six makes it stand for itself; every other byte stands for
// itself as it is ("+", "?", "|", "(", "{" and the others need a backslash to
// become operators).
bool special_in_pattern(char c);

// The result when no shortcut applies: the pattern goes to regcomp/regexec.
constexpr int kNeedsRegex = -1;

// 0 when pattern matches text, 1 when it does not, kNeedsRegex when that is
// left to the regex engine. Only in a single-byte locale, and only for
// patterns that certainly compile:
// - a literal pattern ("^" first and "$" last allowed) is decided by comparing
//   bytes;
// - a pattern "^" + literal prefix + a rest of a small subset of the basic
//   syntax (see rest_compiles) is refused when the text does not start with
//   the prefix.
int match_without_regex(const char* text, const char* pattern);

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
// left to the regex engine: exactly regexec's answer whenever it is not
// kNeedsRegex. Only in the C locale (the gate's), and only for patterns that
// certainly compile (pattern_syntax.h); the others, and the few whose answer
// only regexec knows, get kNeedsRegex.
int match_without_regex(const char* text, const char* pattern);

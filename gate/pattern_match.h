// Shortcuts that answer some white-list patterns without the regular
// expression engine, with exactly the result that regcomp and regexec (basic
// syntax, no flags) would give.
#pragma once

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

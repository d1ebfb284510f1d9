#include <regex.h>

#include <cstdio>
#include <string>

#include "gate.h"
#include "pattern_match.h"

namespace {

// Size of the buffer that receives a matcher's error text.
constexpr size_t kRegexErrorSize = 1024;

const char* or_null(const char* text) {
  return text != nullptr ? text : "(null)";
}

}  // namespace

// Searches text for the POSIX basic regular expression pattern, anywhere in
// the text and case-sensitive; without REG_NEWLINE "." also matches a newline.
// 0 match, 1 no match, 2 error (reported on standard error). Literal patterns,
// and anchored ones whose literal start the text lacks, are answered without
// compiling them (pattern_match.cpp), with the regex engine's very result.
int check_regexp(const char* text, const char* pattern) {
  if (enable_log) printf("cmd[%s] try to match pattern[%s]\n", or_null(text), or_null(pattern));
  if (text == nullptr || pattern == nullptr) {
    perror("wrong input for param or pattern");
    return 2;
  }
  const int quick = match_without_regex(text, pattern);
  if (quick != kNeedsRegex) return quick;
  regex_t re;
  if (regcomp(&re, pattern, 0) != 0) {
    perror("regcomp failed\n");
    return 2;
  }
  int result = 0;
  const int rc = regexec(&re, text, 0, nullptr, 0);
  if (rc == REG_NOMATCH) {
    result = 1;
  } else if (rc != 0) {
    char message[kRegexErrorSize];
    regerror(rc, &re, message, sizeof message);
    perror(message);
    result = 2;
  }
  regfree(&re);
  return result;
}

int check_type(int type) {
  return type != 0 ? 2 : 0;
}

// Walks the entries in order; the first whose pattern matches decides. Only
// what the walk reaches is converted: "pattern" and "is_cookie_check" of the
// entries up to the match, "type" and "role_right" of the matching entry.
// A match is allowed at once when its cookie flag is 0, or when the section
// checks types and the entry's type is 0; otherwise the web user's role must
// hold the entry's rights. The list is read through a const reference so that
// reading never adds members to it.
int white_check(const char* text, const Json::Value& entries, int type_check, const char* cookie) {
  for (Json::ArrayIndex i = 0; i < entries.size(); ++i) {
    const Json::Value& entry = entries[i];
    const std::string pattern = entry["pattern"].asString();
    const int cookie_flag = entry.get("is_cookie_check", 1).asInt();
    const int matched = check_regexp(text, pattern.c_str());
    if (decision_hooks != nullptr) decision_hooks->entry_tried(text, i, pattern, matched);
    if (matched != 0) continue;

    if (enable_log) printf("cmd[%s] match pattern[%s]\n", text, pattern.c_str());
    int type_flag = 1;
    if (type_check != 0) type_flag = check_type(static_cast<int>(entry["type"].asUInt()));
    if (cookie_flag == 0 || type_flag == 0) return 0;
    if (decision_hooks != nullptr) decision_hooks->role_lookup();
    get_role_right(cookie);
    const int verdict = check_role_right(entry["role_right"]);
    if (decision_hooks != nullptr) decision_hooks->role_checked(verdict);
    return verdict;
  }
  return 1;
}

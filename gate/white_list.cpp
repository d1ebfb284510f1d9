#include "white_list.h"

#include <regex.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "pattern_match.h"
#include "policy.h"
#include "role_rights.h"

namespace {

// Size of the buffer that receives a matcher's error text.
constexpr size_t kRegexErrorSize = 1024;
// Patterns are POSIX basic regular expressions, case-sensitive; without
// REG_NEWLINE "." also matches a newline.
constexpr int kPatternFlags = 0;

const char* or_null(const char* text) {
  return text != nullptr ? text : "(null)";
}

}  // namespace

// Searches text for the POSIX basic regular expression pattern, anywhere in
// the text and case-sensitive; without REG_NEWLINE "." also matches a newline.
// 0 match, 1 no match, 2 error (reported on standard error). Patterns known to
// compile are mostly answered without compiling them (pattern_match.cpp), with
// the regex engine's very result.
int check_regexp(const char* text, const char* pattern) {
  if (enable_log) printf("cmd[%s] try to match pattern[%s]\n", or_null(text), or_null(pattern));
  if (text == nullptr || pattern == nullptr) {
    perror("wrong input for param or pattern");
    return 2;
  }
  const int quick = match_without_regex(text, pattern);
  if (quick != kNeedsRegex) return quick;
  regex_t re;
  if (regcomp(&re, pattern, kPatternFlags) != 0) {
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

std::string pattern_error(const char* pattern) {
  regex_t re;
  const int rc = regcomp(&re, pattern, kPatternFlags);
  if (rc == 0) {
    regfree(&re);
    return std::string();
  }
  char message[kRegexErrorSize];
  regerror(rc, &re, message, sizeof message);
  return message;
}

int check_type(int type) {
  return type != 0 ? 2 : 0;
}

std::string pattern_of(const Json::Value& entry) {
  std::string pattern = entry[kPatternMember].asString();
  pattern.resize(strlen(pattern.c_str()));
  return pattern;
}

// As entry.get("is_cookie_check", 1).asInt(), without a default value made
// and the member copied for every entry.
int cookie_flag_of(const Json::Value& entry) {
  const Json::Value* flag =
      entry.find(kCookieCheckMember, kCookieCheckMember + sizeof kCookieCheckMember - 1);
  return flag != nullptr ? flag->asInt() : 1;
}

// The type is converted whenever the section checks types, even when the
// cookie flag alone would allow: a type that cannot be converted ends the run.
MatchRule match_rule(const Json::Value& entry, int cookie_flag, int type_check) {
  int type_flag = 1;
  if (type_check != 0) type_flag = check_type(static_cast<int>(entry[kTypeMember].asUInt()));
  if (cookie_flag == 0) return MatchRule::kCookieFlagZero;
  return type_flag == 0 ? MatchRule::kTypeZero : MatchRule::kRoleCheck;
}

namespace {

void trace_entry(const DecisionHooks* hooks, const char* text, unsigned index, const char* pattern,
                 int result, const SectionDecision& record) {
  if (hooks != nullptr) hooks->entry_tried(hooks->context, text, index, pattern, result, record);
}

// pattern_of(entry) as a C string, without a copy when "pattern" is a string:
// jsoncpp keeps a string's bytes with a NUL after them, so its first NUL ends
// it just where pattern_of cuts. Any other value is converted into spare.
const char* pattern_text(const Json::Value& entry, std::string& spare) {
  const Json::Value* value = entry.find(kPatternMember, kPatternMember + sizeof kPatternMember - 1);
  const char* begin = nullptr;
  const char* end = nullptr;
  if (value != nullptr && value->isString() && value->getString(&begin, &end)) return begin;
  spare = pattern_of(entry);
  return spare.c_str();
}

// Tries entry i of a white list: -1 when its pattern does not match text,
// otherwise the verdict of the entry, recorded in record.
int try_entry(const char* text, unsigned i, const Json::Value& entry, int type_check,
              const char* cookie, std::string& spare, SectionDecision& record,
              const DecisionHooks* hooks) {
  const char* const pattern = pattern_text(entry, spare);
  const int cookie_flag = cookie_flag_of(entry);
  const int matched = check_regexp(text, pattern);
  if (matched != 0) {
    trace_entry(hooks, text, i, pattern, matched, record);
    return -1;
  }

  if (enable_log) printf("cmd[%s] match pattern[%s]\n", text, pattern);
  ++record.matches;
  record.entry = static_cast<int>(i);
  record.role_lookup = false;
  record.user.clear();
  record.role_result = -1;
  record.rule = match_rule(entry, cookie_flag, type_check);
  int verdict = 0;
  if (record.rule == MatchRule::kRoleCheck) {
    record.role_lookup = true;
    if (hooks != nullptr && hooks->role_lookup != nullptr) {
      hooks->role_lookup(hooks->context, cookie);
    } else {
      get_role_right(cookie);
    }
    verdict = record.role_result = check_role_right(entry[kRoleRightMember], &record.user);
  }
  trace_entry(hooks, text, i, pattern, 0, record);
  return verdict;
}

}  // namespace

// Walks the entries in order; the first whose pattern matches decides. Only
// what the walk reaches is converted: "pattern" and "is_cookie_check" of the
// entries up to the match, "type" and "role_right" of the matching entry.
// The list is read through a const reference so that reading never adds
// members to it. The match is recorded in the section's record. An array is
// walked with its iterator: indexing would search the array's map for every
// index. Any other list is indexed as before (an object with members cannot
// be, and ends the run).
int white_check(const char* text, const Json::Value& entries, int type_check, const char* cookie,
                SectionDecision& record, const DecisionHooks* hooks) {
  std::string spare;
  if (entries.isArray()) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
      const int verdict =
          try_entry(text, it.index(), *it, type_check, cookie, spare, record, hooks);
      if (verdict >= 0) return verdict;
    }
    return 1;
  }
  const Json::ArrayIndex size = entries.size();
  for (Json::ArrayIndex i = 0; i < size; ++i) {
    const int verdict = try_entry(text, i, entries[i], type_check, cookie, spare, record, hooks);
    if (verdict >= 0) return verdict;
  }
  return 1;
}

#include "vocabulary.h"

const char* method_meaning(unsigned method) {
  static const char* const kMeanings[] = {"no check: allows every command", "white list",
                                          "black list: refuses every command", "ancestor check"};
  return method <= kMethodAncestor ? kMeanings[method] : "no such method: refuses every command";
}

const char* match_rule_meaning(MatchRule rule) {
  switch (rule) {
    case MatchRule::kCookieFlagZero:
      return "its \"is_cookie_check\" is 0";
    case MatchRule::kTypeZero:
      return "the section checks types and its \"type\" is 0";
    case MatchRule::kRoleCheck:
      break;
  }
  return nullptr;
}

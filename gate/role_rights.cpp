// The role-right comparison: whether the web user found by the role lookup
// holds the rights that a matched white-list entry demands.
#include <cstdio>
#include <string>

#include "gate.h"

namespace {

// The right categories, always examined in this order.
constexpr const char* kCategories[] = {"1", "2", "3", "4", "5"};

// A missing member, or a missing or null object, is level 0. Values of other
// types (strings, arrays, numbers beyond 32 bits) raise Json::LogicError.
int level(const Json::Value& rights, const char* category) {
  return rights.get(category, 0).asInt();
}

}  // namespace

int check_right(int granted, int required) {
  return required > 0 && granted >= required ? 0 : 2;
}

// 0 when the user is the internal administrator or one demanded category is
// held at the demanded level or above; 1 otherwise. group_role is only read
// through a const reference, so a null one stays null.
int check_role_right(Json::Value role_right) {
  const Json::Value& account = group_role;
  const std::string user = account["user"].asString();
  if (user.empty()) {
    if (enable_log) puts("can not get user info, cookie may wrong");
    return 1;
  }
  if (user == "admin") {
    if (enable_log) puts("It's internal admin, skip check");
    return 0;
  }
  const Json::Value granted = account["group_value"];
  for (const char* category : kCategories) {
    const int held = level(granted, category);
    if (check_right(held, level(role_right, category)) == 0) return 0;
  }
  return 1;
}

// The role-right comparison: whether the web user found by the role lookup
// holds the rights that a matched white-list entry demands.
#include "role_rights.h"

#include <cstdio>
#include <string>

#include "policy.h"

// Values of other types (strings, arrays, numbers beyond 32 bits) raise
// Json::LogicError.
int right_level(const Json::Value& rights, const char* category) {
  return rights.get(category, 0).asInt();
}

int check_right(int granted, int required) {
  return required > 0 && granted >= required ? 0 : 2;
}

// 0 when the user is the internal administrator or one demanded category is
// held at the demanded level or above; 1 otherwise. group_role is only read
// through a const reference, so a null one stays null. The user read is
// kept in *read_user.
int check_role_right(const Json::Value& role_right, std::string* read_user) {
  const Json::Value& account = group_role;
  std::string kept;
  std::string& user = read_user != nullptr ? *read_user : kept;
  user = account["user"].asString();
  if (user.empty()) {
    if (enable_log) puts("can not get user info, cookie may wrong");
    return 1;
  }
  if (user == "admin") {
    if (enable_log) puts("It's internal admin, skip check");
    return 0;
  }
  const Json::Value& granted = account["group_value"];
  for (const char* category : kRightCategories) {
    const int held = right_level(granted, category);
    if (check_right(held, right_level(role_right, category)) == 0) return 0;
  }
  return 1;
}

#include <cstdio>

#include "gate.h"

const DecisionHooks* decision_hooks = nullptr;

int check_parameters(const char* command, const char* cookie) {
  if (read_json_file() != 0) {
    log_param("load json failed, skip cmd\n", 1);
    return 1;
  }
  const Json::Value& policy = root;
  if (check_fun(command, policy["scripts_section"], cookie) == 0) {
    log_text(command, 0);
    log_param("pass the scripts check, run cmd now\n", 0);
    return 0;
  }
  if (check_fun(command, policy["ui_section"], cookie) != 0) {
    log_text(command, 1);
    log_param("check failed, skip cmd\n", 1);
    return 1;
  }
  log_text(command, 0);
  log_param("pass the ui check, run cmd now\n", 0);
  return 0;
}

// Decides one policy section by its check method. All three numeric members
// are converted before the method is looked at, so a member of the wrong type
// ends the run whatever the method. Reading goes through the const
// operator[], which never adds members.
int check_fun(const char* command, const Json::Value& s, const char* cookie) {
  const int type_check = static_cast<int>(s["is_type_check"].asUInt());
  const unsigned method = s["check_method"].asUInt();
  (void)s["is_cookie_check"].asUInt();

  switch (method) {
    case 0:
      if (enable_log) puts("no need check");
      return 0;
    case 1:
      if (enable_log) puts("white list check");
      return white_check(command, s["white_cmd_list"], type_check, cookie);
    case 2:
      if (enable_log) puts("black list check");
      return black_check(command, s["black_cmd_list"], type_check, cookie);
    case 3:
      if (enable_log) puts("ancestor check");
      return ancestor_check(command, s["white_cmd_list"], type_check, cookie);
    default:
      return 1;
  }
}

// Method 2 refuses every command; the list is not consulted.
int black_check(const char*, const Json::Value&, int, const char*) {
  return 1;
}

// The account role lookup: asks the local web service for the cookie's
// account role information and leaves it in group_role. No request is made
// when the settings' protocol and port give role_settings_problem's reason.
#pragma once

#include <json/value.h>
#include <sys/types.h>

#include <cstddef>

int get_role_right(const char* cookie);
const char* role_settings_problem(const char* protocol, const char* port);
// The account that, besides root, may own the role service's socket: the
// policy's "role_service_user". Null when the member is missing (*given
// false) or names an account (*uid), else what is wrong with it; then no
// lookup is made.
const char* role_service_user(const Json::Value& policy, uid_t* uid, bool* given);

// The reply body, collected piece by piece, then logged and parsed;
// group_role takes it only when the whole body parses.
struct url_data {
  size_t size;
  char* body;
};
size_t write_data(void* piece, size_t size, size_t nmemb, url_data* data);
void take_role_reply(const char* body);

// The account role lookup: asks the local web service for the cookie's
// account role information and leaves it in group_role. No request is made
// when the settings' protocol and port give role_settings_problem's reason.
#pragma once

#include <json/value.h>

#include <cstddef>

int get_role_right(const char* cookie);
const char* role_settings_problem(const char* protocol, const char* port);

// The reply body, collected piece by piece, then logged and parsed;
// group_role takes it only when the whole body parses.
struct url_data {
  size_t size;
  char* body;
};
size_t write_data(void* piece, size_t size, size_t nmemb, url_data* data);
void take_role_reply(const char* body);

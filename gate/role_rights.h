// The role check of a matched white-list entry: the account role lookup
// (get_role_right), which leaves the web user's role information in
// group_role, and the comparison of it with the entry's demands, category by
// category in kRightCategories' order; each level read with right_level (a
// missing member, or a missing or null object, is 0).
#pragma once

#include <json/value.h>

#include <string>

#include "role_transfer.h"
#include "vocabulary.h"

// The transfer that get_role_right calls; set by the program at start-up.
// Without one, no request is made and the role check finds no user.
void set_role_transfer(RoleTransfer transfer);
// Asks the role service through the transfer for the cookie's account role
// information, logs the reply and parses it into group_role.
int get_role_right(const char* cookie);
// Logs the body (with tracing on) and parses it, up to its first NUL byte;
// group_role takes it only when the whole body parses.
void take_role_reply(const char* body);

int right_level(const Json::Value& rights, const char* category);
int check_right(int granted, int required);
// user: where the user read is kept (the section's record), if anywhere.
int check_role_right(const Json::Value& role_right, std::string* user = nullptr);

// Compares group_role with a white-list entry's demands, category by
// category in kRightCategories' order; each level read with right_level (a
// missing member, or a missing or null object, is 0).
#pragma once

#include <json/value.h>

constexpr const char* kRightCategories[] = {"1", "2", "3", "4", "5"};
int right_level(const Json::Value& rights, const char* category);
int check_right(int granted, int required);
int check_role_right(const Json::Value& role_right);

// The decision: whether one shell command line may run as root under the
// loaded policy, and the record of how it was reached.
#pragma once

#include <json/value.h>

#include <string>

#include "decision_record.h"
#include "vocabulary.h"

extern Decision decision;
// The record that check_fun and the checks it calls fill: the section being
// asked (the first one when check_fun is called on its own), and its index.
SectionDecision& section_record();
unsigned section_index();

// 0 run the command, anything else refuse. check_parameters loads the
// installed policy (privileged: as read_json_file) and asks decide_sections,
// which asks the loaded policy's sections in order, logs the verdict and
// fills the record; hooks (the administrator's dry runs only) are handed
// down to the checks. The checks read the policy through const references and
// never change it, so each sees exactly the value it would see in a copy of
// its own; copying instead would cost a run a deep copy of every list it
// examines.
int check_parameters(const char* command, const char* cookie, bool privileged);
int decide_sections(const char* command, const char* cookie, const DecisionHooks* hooks = nullptr);
int check_fun(const char* command, const Json::Value& section, const char* cookie,
              const DecisionHooks* hooks = nullptr);
int black_check(const char* command, const Json::Value& list, int type_check, const char* cookie);
// check_fun's first step: a section's "is_type_check", "check_method" and
// "is_cookie_check", converted in this order whatever the method (a value
// that cannot be converted throws). *reading names the member being
// converted, so that a caller that catches the exception knows which failed.
struct SectionNumbers {
  int type_check;
  unsigned method;
};
SectionNumbers read_section_numbers(const Json::Value& section, const char** reading = nullptr);

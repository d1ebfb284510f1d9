// The decision: whether one shell command line may run as root under the
// loaded policy, and the record of how it was reached.
#pragma once

#include <json/value.h>

#include <string>

#include "policy.h"

// The record of how the run's decision was reached, filled by the decision
// code itself as it decides: the section, its method, the deciding
// white-list entry (for the ancestor check with the ancestor whose command
// line it matched), whether a role lookup was asked for and which user the
// role check read. The administrator's tool reads it after deciding a
// command with this very code. Filling it costs a few stores per decision
// and allocates only when a role check reads a user.
struct SectionDecision {
  const char* name = nullptr;  // one of kSectionNames; null for check_fun called alone
  bool read = false;           // the section's numbers were converted: method, type_check
  unsigned method = 0;
  int type_check = 0;
  unsigned matches = 0;  // entries that matched: more than one only in the ancestor check
  // The last matching entry: its index in white_cmd_list (-1: none matched),
  // how it decided, and, for the ancestor check, the ancestor it matched
  // (its pid 0 when decision_hooks supplied its command line).
  int entry = -1;
  MatchRule rule = MatchRule::kRoleCheck;
  int ancestor_pid = 0;
  char ancestor[kProcNameSize + 1] = "";
  bool role_lookup = false;  // a role lookup was asked for (get_role_right or decision_hooks')
  std::string user;          // the "user" the role check read ("": none)
  int role_result = -1;      // check_role_right's result, -1 when not reached
  int result = -1;           // check_fun's result, -1 while deciding or when the run ended
};
struct Decision {
  bool loaded = false;  // the policy loaded
  unsigned count = 0;   // sections asked so far (sections[count - 1] is the last)
  SectionDecision sections[kSectionCount];
  int verdict = -1;     // 0 run, 1 refuse, -1 not reached (the run ended on the way)
  bool logged = false;  // an allowed command's lines reached the log file
};
extern Decision decision;
// The record that check_fun and the checks it calls fill: the section being
// asked (the first one when check_fun is called on its own), and its index.
SectionDecision& section_record();
unsigned section_index();

// Watch points for the administrator's dry runs, which decide commands with
// this very code without running them. The gate never sets decision_hooks:
// it stays null, each watch point costs one pointer test, and no decision
// changes. When set, each hook gets the hooks' context:
// - log_param hands every message to logged and writes nothing to the log;
// - white_check reports each entry it tries on a text (the command, or an
//   ancestor's command line) with check_regexp's result (0 match), a match
//   once it has decided it (the section's record then tells how);
// - when role_lookup is given, a role check calls it instead of
//   get_role_right; it is to leave the account role information in group_role;
// - when ancestor is given, the ancestor check walks the command lines it
//   supplies instead of the processes: the parent's for generation 0, its
//   parent's for 1, and so on, null when there are no more.
struct DecisionHooks {
  void* context;
  void (*logged)(void* context, const char* message, int force);
  void (*entry_tried)(void* context, const char* text, unsigned index, const std::string& pattern,
                      int result);
  void (*role_lookup)(void* context, const char* cookie);
  const char* (*ancestor)(void* context, unsigned generation);
};
extern const DecisionHooks* decision_hooks;

// 0 run the command, anything else refuse. check_parameters loads the
// installed policy (privileged: as read_json_file) and asks decide_sections,
// which asks the loaded policy's sections in order, logs the verdict and
// fills the record. The checks read the policy through const references and
// never change it, so each sees exactly the value it would see in a copy of
// its own; copying instead would cost a run a deep copy of every list it
// examines.
int check_parameters(const char* command, const char* cookie, bool privileged);
int decide_sections(const char* command, const char* cookie);
int check_fun(const char* command, const Json::Value& section, const char* cookie);
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

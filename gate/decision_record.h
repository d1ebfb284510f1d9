// The record of a decision and the watch points of the administrator's dry
// runs: what the decision hands down to the checks it asks (white list,
// ancestor walk), which fill the record and call the hooks given.
#pragma once

#include <string>

#include "vocabulary.h"

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
  // how it decided, and, for the ancestor check, the command line of the
  // ancestor it matched.
  int entry = -1;
  MatchRule rule = MatchRule::kRoleCheck;
  char ancestor[kProcNameSize + 1] = "";
  bool role_lookup = false;  // a role lookup was asked for (get_role_right or the hooks')
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
// Watch points for the administrator's dry runs, which decide commands with
// this very code without running them; the decision hands them down to the
// checks. The gate gives none: each watch point costs one pointer test, and
// no decision changes. When given, each hook gets the hooks' context:
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
  void (*entry_tried)(void* context, const char* text, unsigned index, const std::string& pattern,
                      int result, const SectionDecision& record);
  void (*role_lookup)(void* context, const char* cookie);
  const char* (*ancestor)(void* context, unsigned generation);
};

// "corvexin_policy explain": decides a command with the gate's own decision
// code, without running it and without writing the gate's log, and tells
// the path of the decision.
#pragma once

#include <string>

#include "vocabulary.h"

struct ExplainOptions {
  std::string policy = kPolicyPath;
  std::string cookie = kDefaultCookie;  // the web user's session cookie; never printed
  std::string command;                  // the command line to decide
  bool no_lookup = false;               // stop before a role lookup
  bool json = false;
};

// 0 the gate would run the command, 1 it would refuse it, 3 the verdict
// depends on a role lookup that was not made.
int explain_command(const ExplainOptions& options);

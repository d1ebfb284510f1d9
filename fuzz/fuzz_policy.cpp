// Policy loading and the decision. The input is
//   POLICY \0 COMMAND \0 PIECE REPLY
// The policy is written to a file and loaded with read_policy_file; the
// command (a fixed one when the input has no second part) is decided by the
// scripts section and, when that refuses, by the ui section, as the gate does.
// Role lookups receive REPLY in pieces of PIECE bytes (its first byte; 0 for
// one piece). Nothing is executed and no request is made.
#include <json/value.h>

#include <cstdint>
#include <string>

#include "decision.h"
#include "fuzz_support.h"
#include "policy.h"
#include "vocabulary.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  keep_log_private();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parts = split_input(data, size, 3);
  const std::string command = parts.size() > 1 ? std::string(parts[1]) : "/usr/bin/uptime";
  std::string_view reply = parts.size() > 2 ? parts[2] : std::string_view();
  size_t piece = 0;
  if (!reply.empty()) {
    piece = static_cast<unsigned char>(reply[0]);
    reply.remove_prefix(1);
  }
  set_role_reply(reply, piece);
  reset_private_log();
  root = Json::Value();
  group_role = Json::Value();
  enable_log = 0;
  try {
    if (read_policy_file(input_file(parts[0]), false, false) == 0) {
      const Json::Value& policy = root;
      if (check_fun(command.c_str(), policy["scripts_section"], kDefaultCookie) != 0)
        check_fun(command.c_str(), policy["ui_section"], kDefaultCookie);
    }
  } catch (const Json::Exception&) {
    // A value of a type that cannot be converted, or nesting deeper than the
    // reader allows: the gate's main turns these into a refusal.
  }
  return 0;
}

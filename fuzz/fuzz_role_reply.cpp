// The role reply and the role-right comparison. The input is
//   FLAGS ROLE_RIGHT \0 REPLY
// FLAGS (the first byte): bit 0 turns tracing on; the other bits give the
// piece size in which the reply arrives (0: one piece). ROLE_RIGHT is a
// white-list entry's "role_right" as JSON; REPLY is the web service's reply
// body, which goes through the gate's own write_data and reply parsing.
#include <json/reader.h>

#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "policy.h"
#include "role_lookup.h"
#include "role_rights.h"
#include "vocabulary.h"

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  keep_log_private();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const auto parts = split_input(data + 1, size - 1, 2);
  reset_private_log();
  enable_log = data[0] & 1;
  group_role = Json::Value();
  set_role_reply(parts.size() > 1 ? parts[1] : std::string_view(), data[0] >> 1);
  try {
    // A fragment nested deeper than the reader's limit throws, as the
    // gate's own policy reading does.
    Json::Value role_right;
    Json::Reader().parse(std::string(parts[0]), role_right, false);
    get_role_right(kDefaultCookie);
    const int verdict = check_role_right(role_right);
    // Nobody passes without a user name.
    const Json::Value& account = group_role;
    if (verdict == 0 && (!account.isObject() || account["user"].asString().empty())) abort();
  } catch (const Json::Exception&) {
    // Values outside the reply's and the policy's formats, and fragments too
    // deep to read: a refusal in the gate.
  }
  return 0;
}

// The rules' side of the account role lookup: the transfer (the lookup's,
// handed over at start-up) brings back the reply's bytes; they are logged
// and parsed into group_role here.
#include <cstdio>
#include <string>

#include "json_document.h"
#include "log.h"
#include "policy.h"
#include "role_rights.h"
#include "vocabulary.h"

namespace {

RoleTransfer role_transfer = nullptr;

// Says why the lookup failed, on standard error and in the log.
void lookup_failed(const std::string& why) {
  fprintf(stderr, "corvexin_check: %s\n", why.c_str());
  log_param(why.c_str(), 1);
}

}  // namespace

void set_role_transfer(RoleTransfer transfer) {
  role_transfer = transfer;
}

int get_role_right(const char* cookie) {
  RoleReply reply;
  if (role_transfer != nullptr) {
    reply = role_transfer(cookie, kSettingsPath, service_user_rule(root));
  } else {
    fputs("corvexin_check: no role lookup in this program; role lookup skipped\n", stderr);
  }
  if (reply.owner_problem != nullptr)
    lookup_failed(std::string(kPolicyPath) + " " + reply.owner_problem + "; role lookup skipped");
  if (enable_log && !reply.url.empty()) printf("read config test: %s", reply.url.c_str());
  // The lookup has said why on standard error; the log gets it too.
  if (!reply.refusal.empty()) log_param(reply.refusal.c_str(), 1);
  if (reply.too_big) {
    // Logged (cut) like any reply, and never taken (the lookup said why).
    log_text(reply.body.c_str(), 0);
    return 0;
  }
  take_role_reply(reply.body.c_str());
  return 0;
}

// Only a reply that parses as a whole replaces group_role: a cut connection
// or a broken answer leaves it as it was (null in a run's first lookup), and
// never keeps a part of itself there.
void take_role_reply(const char* body) {
  log_text(body, 0);
  std::string messages;
  if (!parse_document(body, group_role, true, &messages, nullptr)) {
    fputs("Failed to parse", stdout);
    fputs(messages.c_str(), stdout);
  }
}

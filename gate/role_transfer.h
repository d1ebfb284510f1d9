// What the decision rules and the role lookup exchange: the rules hand the
// lookup what it needs as arguments and get the reply's bytes back, or why
// there are none. Types only; the entry gives the rules the lookup's
// function at start-up (set_role_transfer), so neither library calls the
// other.
#pragma once

#include <json/value.h>

#include <string>

// One lookup's outcome. What the transfer has to say about the network and
// libcurl it says on standard error itself; the rest the rules log and show.
struct RoleReply {
  std::string body;      // the reply's bytes; empty when no request was made or none came back
  bool too_big = false;  // the reply grew past the largest taken: body holds its start
  // What is wrong with the owner rule ("role_service_user"): no request made.
  const char* owner_problem = nullptr;
  // Why the request was not sent to the service that answered; empty when it was.
  std::string refusal;
  std::string url;  // the request's address, once one is made
};
// The transfer: cookie to present, the settings file naming the service's
// protocol and port, and the policy's owner rule (null when it has none).
using RoleTransfer = RoleReply (*)(const char* cookie, const char* settings_path,
                                   const Json::Value* service_user);

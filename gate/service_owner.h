// Who may answer the role lookup: the owner of the role service's socket.
#pragma once

#include <json/value.h>
#include <sys/types.h>

#include <string>

// The account that, besides root, may own the role service's socket: the
// policy's "role_service_user" as rule (null when the policy has none). Null
// when there is no rule (*given false) or it names an account (*uid), else
// what is wrong with it; then no lookup is made.
const char* role_service_user(const Json::Value* rule, uid_t* uid, bool* given);

// What the check before the request needs and finds.
struct ServiceCheck {
  uid_t user = 0;       // the account named by "role_service_user"
  bool given = false;   // there is one
  std::string refusal;  // why no request was sent; empty while it may be
};

// libcurl's check before the request (CURLOPT_PREREQFUNCTION, with a
// ServiceCheck as its data): lets the request go only to a service run by
// root or by the named account, else records why not in the check's refusal.
int before_request(void* check, char* server_ip, char* client_ip, int server_port, int client_port);

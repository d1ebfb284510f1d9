// Who may answer the role lookup: the owner of the role service's socket.
#pragma once

#include <json/value.h>
#include <sys/types.h>

#include <chrono>
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
  // Until when the service may take to accept the connection: the end of the
  // lookup's time limit.
  std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now();
};

// libcurl's check before the request (CURLOPT_PREREQFUNCTION, with a
// ServiceCheck as its data): lets the request go only to a service run by
// root or by the named account, else records why not in the check's refusal.
// The service is the owner of the socket that accepted the connection, once
// one has (waited for until the check's deadline).
int before_request(void* check, char* server_ip, char* client_ip, int server_port, int client_port);

// The account role lookup: asks the local web service for the cookie's
// account role information and gives back the reply's bytes. No request is
// made when the settings' protocol and port give role_settings_problem's
// reason, or when the owner rule is wrong (RoleReply's owner_problem).
#pragma once

#include <json/value.h>

#include <cstddef>

#include "role_transfer.h"

// What the lookup reads from the settings file: the web service's protocol
// and port, both in one section.
constexpr const char kSettingsSection[] = "http";
constexpr const char kProtocolKey[] = "kelvo_web_protocol";
constexpr const char kPortKey[] = "kelvo_web_server";

// The transfer (a RoleTransfer) that the gate hands to its decision rules.
RoleReply fetch_role_reply(const char* cookie, const char* settings_path,
                           const Json::Value* service_user);
const char* role_settings_problem(const char* protocol, const char* port);
// Whether the cookie can be sent: it holds no control byte.
bool header_safe(const char* text);

// The reply body, collected piece by piece.
struct url_data {
  size_t size;
  char* body;
};
size_t write_data(void* piece, size_t size, size_t nmemb, url_data* data);

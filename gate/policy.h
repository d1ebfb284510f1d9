// The policy's state and its loading: the run's globals and reading a policy
// file (the names it uses are in vocabulary.h).
#pragma once

#include <json/value.h>
#include <sys/stat.h>

#include <string>

// The run's globals: the loaded policy, the most recent account role
// information, and the trace switch taken from the policy.
extern Json::Value root;
extern Json::Value group_role;
extern int enable_log;
// The policy's "syslog" switch, read like "enable_log" (a signed integer, but
// default 1): non-zero sends the system-log record of the run's decision.
// It stays 1 while no policy is loaded, so a run whose policy does not load,
// or ends on its "syslog" member, is recorded.
extern int syslog_records;

// Loads kPolicyPath (or another policy file, for the administrator's tools)
// into root and sets enable_log from policy_log_switch and syslog_records
// from policy_syslog_switch, converted in this order. The gate uses only a
// policy file that root alone can change (trusted_only). privileged: the
// caller started the gate set-uid, so the reader's messages leave out what
// they would quote of the file.
int read_json_file(bool privileged);
int read_policy_file(const char* path, bool trusted_only, bool privileged);
int policy_log_switch(const Json::Value& policy);
int policy_syslog_switch(const Json::Value& policy);
// The steps of loading, shared with the administrator's tools. Why a file's
// owner or mode make it untrusted (null: trusted). The file's bytes, read in
// one pass (empty when it cannot be opened or read, or, with trusted_only,
// when policy_distrust finds a reason not to use it).
const char* policy_distrust(const struct stat& st);
std::string read_policy_text(const char* path, bool trusted_only = false);
// The policy's "role_service_user" (null when it has none): the rule on who
// may run the role service, which the role lookup is given.
const Json::Value* service_user_rule(const Json::Value& policy);

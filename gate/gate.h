// The command gate: everything that decides whether one shell command line may
// run as root. main.cpp does the process-level work (descriptors, signals,
// identity, exec); everything declared here can run in an ordinary process.
#pragma once

#include <json/value.h>

#include <sys/stat.h>

#include <cstddef>
#include <string>
#include <vector>

// Fixed places. The gate takes no configuration from anywhere else.
constexpr const char kPolicyPath[] = "/etc/cmd_check.json";
constexpr const char kSettingsPath[] = "/etc/kelvo/halvora.ini";
constexpr const char kLogPath[] = "/var/varn/log/corvexin_check.log";
constexpr const char kDefaultCookie[] = "placeholder_session_for_gate_test";

// The run's three globals: the loaded policy, the most recent account role
// information, and the trace switch taken from the policy.
extern Json::Value root;
extern Json::Value group_role;
extern int enable_log;

// environment.cpp: whether the gate was started set-uid or set-gid by a
// caller without that identity; for such a start, replaces the caller's
// environment with one built from scratch. The cookie variable is taken out
// of the environment in every run (its value, null when it was not there).
bool started_with_privilege();
const char* take_environment_cookie();
void clean_environment();

// log.cpp: the diagnostic log, one message per line. Text that comes from
// outside the gate (the command line, the role service's reply) is logged
// with log_text, which cuts it to kLoggedTextMax bytes and escapes its control
// bytes as loggable does (into a buffer of kLoggableSize).
constexpr size_t kLoggedTextMax = 4096;
constexpr size_t kLoggableSize = kLoggedTextMax * 4 + 32;
int log_to_file(const char* message);
int log_param(const char* message, int force);
int log_text(const char* text, int force);
size_t loggable(const char* text, char (&out)[kLoggableSize]);

// policy.cpp: loads kPolicyPath (or another policy file, for the
// administrator's tools) into root and sets enable_log. The gate uses only
// a policy file that root alone can change (trusted_only).
int read_json_file();
int read_policy_file(const char* path, bool trusted_only);
// The steps of loading, shared with the administrator's tools. The file's
// bytes, read in one pass (empty when it cannot be opened or read, or, with
// trusted_only, when policy_distrust finds a reason not to use it). Their
// parse with the classic reader (comments accepted, any root value), which
// succeeds only when nothing but blanks and comments follows the value; on
// failure it gives the reader's formatted messages and each message with the
// byte offset it is about, and the value is left as it was. The role
// service's reply is parsed the same way.
struct PolicyError {
  size_t offset;
  std::string message;
};
const char* policy_distrust(const struct stat& st);
std::string read_policy_text(const char* path, bool trusted_only = false);
bool parse_policy_text(const std::string& text, Json::Value& value, std::string* formatted,
                       std::vector<PolicyError>* errors);
bool parse_document(const std::string& text, Json::Value& value, bool collect_comments,
                    std::string* formatted, std::vector<PolicyError>* errors);

// decision.cpp: watch points for the administrator's dry run
// ("corvexin_policy explain"), which decides a command with this very code
// without running it. The gate never sets decision_hooks: it stays null, each
// watch point costs one pointer test, and no decision changes. When set (all
// four functions given):
// - log_param hands every message to logged and writes nothing to the log;
// - white_check reports each entry it tries on a text (the command, or an
//   ancestor's command line) with check_regexp's result (0 match);
// - white_check calls role_lookup just before a role lookup; it may throw to
//   stop the decision there, before any request is made;
// - white_check reports check_role_right's result after the lookup.
struct DecisionHooks {
  void (*logged)(const char* message, int force);
  void (*entry_tried)(const char* text, unsigned index, const std::string& pattern, int result);
  void (*role_lookup)();
  void (*role_checked)(int result);
};
extern const DecisionHooks* decision_hooks;

// decision.cpp: 0 run the command, anything else refuse.
// The checks read the policy through const references and never change it,
// so each sees exactly the value it would see in a copy of its own; copying
// instead would cost a run a deep copy of every list it examines.
int check_parameters(const char* command, const char* cookie);
int check_fun(const char* command, const Json::Value& section, const char* cookie);
int black_check(const char* command, const Json::Value& list, int type_check, const char* cookie);

// white_list.cpp: regular-expression white lists.
int check_regexp(const char* text, const char* pattern);
int check_type(int type);
int white_check(const char* text, const Json::Value& list, int type_check, const char* cookie);

// ancestry.cpp: the white list applied to the command lines of the ancestors.
int get_proc_name(int pid, char* buffer);
int ancestor_check(const char* command, const Json::Value& list, int type_check,
                   const char* cookie);

// role_lookup.cpp: asks the local web service for the cookie's account role
// information and leaves it in group_role.
int get_role_right(const char* cookie);

// role_reply.cpp: the reply body, collected piece by piece, then logged and
// parsed; group_role takes it only when the whole body parses.
struct url_data {
  size_t size;
  char* body;
};
size_t write_data(void* piece, size_t size, size_t nmemb, url_data* data);
void take_role_reply(const char* body);

// role_rights.cpp: compares group_role with a white-list entry's demands.
int check_right(int granted, int required);
int check_role_right(Json::Value role_right);

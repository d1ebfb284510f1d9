// The policy's vocabulary: the gate's fixed places, the policy's sections and
// member names, the check methods and match rules with what each means, the
// log's fixed lines, the run's three globals, and loading a policy file.
#pragma once

#include <json/value.h>
#include <sys/stat.h>

#include <cstddef>
#include <string>

// Fixed places. The gate takes no configuration from anywhere else.
constexpr const char kPolicyPath[] = "/etc/cmd_check.json";
constexpr const char kSettingsPath[] = "/etc/kelvo/halvora.ini";
constexpr const char kLogPath[] = "/var/varn/log/corvexin_check.log";
constexpr const char kDefaultCookie[] = "placeholder_session_for_gate_test";
// The command search path of the root shell that a caller other than root
// starts through the gate: a program named without a directory is the first
// of that name in these directories.
constexpr const char kRootPath[] = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";
// The directory the loader searches first for the gate's shared libraries
// (its RUNPATH, set by the build from the same variable).
constexpr const char kLibraryDir[] = CORVEXIN_LIBRARY_DIR;
// What the role lookup reads from kSettingsPath: the web service's protocol
// and port, both in one section.
constexpr const char kSettingsSection[] = "http";
constexpr const char kProtocolKey[] = "kelvo_web_protocol";
constexpr const char kPortKey[] = "kelvo_web_server";

// The policy's two sections, in the order in which they are asked.
constexpr const char* kSectionNames[] = {"scripts_section", "ui_section"};
constexpr unsigned kSectionCount = sizeof kSectionNames / sizeof kSectionNames[0];

// Member names: of the policy, of a section, of a white-list entry.
constexpr const char kEnableLogMember[] = "enable_log";
constexpr const char kSyslogMember[] = "syslog";
constexpr const char kTypeCheckMember[] = "is_type_check";
constexpr const char kMethodMember[] = "check_method";
constexpr const char kCookieCheckMember[] = "is_cookie_check";
constexpr const char kWhiteListMember[] = "white_cmd_list";
constexpr const char kBlackListMember[] = "black_cmd_list";
constexpr const char kPatternMember[] = "pattern";
constexpr const char kTypeMember[] = "type";
constexpr const char kRoleRightMember[] = "role_right";

// The check methods that a section names.
enum CheckMethod : unsigned {
  kMethodNone = 0,       // allows every command
  kMethodWhiteList = 1,  // white_check on the command line
  kMethodBlackList = 2,  // refuses every command
  kMethodAncestor = 3,   // white_check on each ancestor's command line
};
// Whether a section of this method reads its white_cmd_list.
constexpr bool method_reads_white_list(unsigned method) {
  return method == kMethodWhiteList || method == kMethodAncestor;
}
// The method in words: "white list", "black list: refuses every command", ...
const char* method_meaning(unsigned method);

// How a matching white-list entry decides (match_rule).
enum class MatchRule : unsigned char {
  kCookieFlagZero,  // its "is_cookie_check" is 0: allowed by the match alone
  kTypeZero,        // the section checks types and its "type" is 0: allowed by the match alone
  kRoleCheck,       // allowed only when the web user's role holds its "role_right"
};
// Why an entry that matched allows without a role check, in words; null for
// kRoleCheck.
const char* match_rule_meaning(MatchRule rule);

// Bytes of an ancestor's command line that are examined.
constexpr size_t kProcNameSize = 1024;

// The log's fixed lines. A decided command line is logged before its
// verdict's line; a refusal is logged whatever the policy's "enable_log".
constexpr const char kLogNotLoaded[] = "load json failed, skip cmd\n";
constexpr const char kLogRefused[] = "check failed, skip cmd\n";
constexpr const char kLogScriptsPassed[] = "pass the scripts check, run cmd now\n";
constexpr const char kLogUiPassed[] = "pass the ui check, run cmd now\n";
constexpr const char kLogAncestorMatched[] = "proc_name match";

// The run's three globals: the loaded policy, the most recent account role
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

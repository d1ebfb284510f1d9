// The policy's vocabulary: the gate's fixed places, the policy's sections,
// the member names of every policy object and the table of each object's
// known members, the check methods and match rules with what each means.
#pragma once

#include <cstddef>

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

// The policy's two sections, in the order in which they are asked.
constexpr const char* kSectionNames[] = {"scripts_section", "ui_section"};
constexpr unsigned kSectionCount = sizeof kSectionNames / sizeof kSectionNames[0];

// Member names: of the policy, of a section, of a white-list entry.
constexpr const char kEnableLogMember[] = "enable_log";
constexpr const char kSyslogMember[] = "syslog";
constexpr const char kServiceUserMember[] = "role_service_user";
constexpr const char kTypeCheckMember[] = "is_type_check";
constexpr const char kMethodMember[] = "check_method";
constexpr const char kCookieCheckMember[] = "is_cookie_check";
constexpr const char kWhiteListMember[] = "white_cmd_list";
constexpr const char kBlackListMember[] = "black_cmd_list";
constexpr const char kPatternMember[] = "pattern";
constexpr const char kTypeMember[] = "type";
constexpr const char kRoleRightMember[] = "role_right";

// The members the gate knows of each policy object, in the order in which
// the administrator's tool offers them as corrections of a misspelling.
constexpr const char* kPolicyMembers[] = {kEnableLogMember, kSyslogMember, kServiceUserMember,
                                          kSectionNames[0], kSectionNames[1]};
constexpr const char* kSectionMembers[] = {kMethodMember, kTypeCheckMember, kCookieCheckMember,
                                           kWhiteListMember, kBlackListMember};
constexpr const char* kEntryMembers[] = {kPatternMember, kCookieCheckMember, kTypeMember,
                                         kRoleRightMember};
// An entry's "role_right": the right categories, compared in this order.
constexpr const char* kRightCategories[] = {"1", "2", "3", "4", "5"};

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

// Bytes of an ancestor's command line that the ancestor check examines.
constexpr size_t kProcNameSize = 1024;

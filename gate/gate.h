// The command gate: everything that decides whether one shell command line may
// run as root. main.cpp does the process-level work (descriptors, signals,
// identity, exec); everything declared here can run in an ordinary process.
#pragma once

#include <json/value.h>

#include <sys/stat.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <vector>

// Fixed places. The gate takes no configuration from anywhere else.
constexpr const char kPolicyPath[] = "/etc/cmd_check.json";
constexpr const char kSettingsPath[] = "/etc/kelvo/halvora.ini";
constexpr const char kLogPath[] = "/var/varn/log/corvexin_check.log";
constexpr const char kDefaultCookie[] = "placeholder_session_for_gate_test";
// The directory the loader searches first for the gate's shared libraries
// (its RUNPATH, set by the build from the same variable).
constexpr const char kLibraryDir[] = CORVEXIN_LIBRARY_DIR;
// What the role lookup reads from kSettingsPath: the web service's protocol
// and port, both in one section.
constexpr const char kSettingsSection[] = "http";
constexpr const char kProtocolKey[] = "kelvo_web_protocol";
constexpr const char kPortKey[] = "kelvo_web_server";

// The policy's two sections, in the order in which they are asked, and the
// check methods that a section names.
constexpr const char* kSectionNames[] = {"scripts_section", "ui_section"};
enum CheckMethod : unsigned {
  kMethodNone = 0,       // allows every command
  kMethodWhiteList = 1,  // white_check on the command line
  kMethodBlackList = 2,  // refuses every command
  kMethodAncestor = 3,   // white_check on each ancestor's command line
};
// Bytes of an ancestor's command line that are examined.
constexpr size_t kProcNameSize = 1024;

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
size_t loggable(const char* text, char (&out)[kLoggableSize], bool quoted = false);
// Writes the parts, joined (at most 8), to standard error in one write(),
// without stdio and without allocating: safe in a signal handler. Error texts
// for it come from strerrordesc_np, which translates nothing.
void say_on_stderr(std::initializer_list<const char*> parts);
// The bytes that outside text may not carry as they are, in the log, in the
// system-log record or in a request header: every control byte but TAB, and
// DEL.
inline bool control_byte(unsigned char c) { return (c < 0x20 && c != '\t') || c == 0x7f; }
// Small text pieces written without snprintf (whose machinery costs a run
// more than what it writes): a number's decimal digits, and the mark
// "...[N bytes]" that ends a text cut short, N its whole length. Each gives
// the bytes written to out, which it terminates.
constexpr size_t kDecimalSize = 21;
constexpr size_t kLengthMarkSize = kDecimalSize + 10;
size_t decimal(unsigned long long value, char (&out)[kDecimalSize]);
size_t length_mark(size_t length, char (&out)[kLengthMarkSize]);

// policy.cpp: loads kPolicyPath (or another policy file, for the
// administrator's tools) into root and sets enable_log from policy_log_switch
// and syslog_records from policy_syslog_switch, converted in this order.
// The gate uses only a policy file that root alone can change (trusted_only).
int read_json_file();
int read_policy_file(const char* path, bool trusted_only);
int policy_log_switch(const Json::Value& policy);
// The policy's "syslog" switch, read like "enable_log" (a signed integer, but
// default 1): non-zero sends the system-log record of the run's decision
// (audit.cpp). It stays 1 while no policy is loaded, so a run whose policy
// does not load, or ends on its "syslog" member, is recorded.
extern int syslog_records;
int policy_syslog_switch(const Json::Value& policy);
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
// The first byte at or after i that is neither a blank nor part of a comment,
// as the reader skips them (the start of a comment left open counts as such a
// byte); text.size() when there is none.
size_t skip_blanks_and_comments(const std::string& text, size_t i);
// The line and column of a byte offset, both from 1, counted as the reader
// counts them in its messages.
void line_and_column(const std::string& text, size_t offset, size_t* line, size_t* column);

// decision.cpp: the record of how the run's decision was reached, filled by
// the decision code itself as it decides: the section, its method, the
// deciding white-list entry (for the ancestor check with the ancestor whose
// command line it matched), whether a role lookup was asked for and which
// user the role check read. The administrator's tool reads it after deciding
// a command with this very code. Filling it costs a few stores per decision
// and allocates only when a role check reads a user.
//
// How a matching white-list entry decides (match_rule).
enum class MatchRule : unsigned char {
  kCookieFlagZero,  // its "is_cookie_check" is 0: allowed by the match alone
  kTypeZero,        // the section checks types and its "type" is 0: allowed by the match alone
  kRoleCheck,       // allowed only when the web user's role holds its "role_right"
};
struct SectionDecision {
  const char* name = nullptr;  // one of kSectionNames; null for check_fun called alone
  bool read = false;           // the section's numbers were converted: method, type_check
  unsigned method = 0;
  int type_check = 0;
  unsigned matches = 0;  // entries that matched: more than one only in the ancestor check
  // The last matching entry: its index in white_cmd_list (-1: none matched),
  // how it decided, and, for the ancestor check, the ancestor it matched
  // (its pid 0 when decision_hooks supplied its command line).
  int entry = -1;
  MatchRule rule = MatchRule::kRoleCheck;
  int ancestor_pid = 0;
  char ancestor[kProcNameSize + 1] = "";
  bool role_lookup = false;  // a role lookup was asked for (get_role_right or decision_hooks')
  std::string user;          // the "user" the role check read ("": none)
  int role_result = -1;      // check_role_right's result, -1 when not reached
  int result = -1;           // check_fun's result, -1 while deciding or when the run ended
};
struct Decision {
  bool loaded = false;  // the policy loaded
  unsigned count = 0;   // sections asked so far (sections[count - 1] is the last)
  SectionDecision sections[2];
  int verdict = -1;  // 0 run, 1 refuse, -1 not reached (the run ended on the way)
};
extern Decision decision;
// The record that check_fun and the checks it calls fill: the section being
// asked (the first one when check_fun is called on its own).
SectionDecision& section_record();

// decision.cpp: watch points for the administrator's dry runs
// ("corvexin_policy explain" and "test"), which decide commands with this very
// code without running them. The gate never sets decision_hooks: it stays
// null, each watch point costs one pointer test, and no decision changes.
// When set:
// - log_param hands every message to logged and writes nothing to the log;
// - white_check reports each entry it tries on a text (the command, or an
//   ancestor's command line) with check_regexp's result (0 match), a match
//   once it has decided it (the section's record then tells how);
// - when role_lookup is given, a role check calls it instead of
//   get_role_right; it is to leave the account role information in group_role;
// - when ancestor is given, the ancestor check walks the command lines it
//   supplies instead of the processes: the parent's for generation 0, its
//   parent's for 1, and so on, null when there are no more.
struct DecisionHooks {
  void (*logged)(const char* message, int force);
  void (*entry_tried)(const char* text, unsigned index, const std::string& pattern, int result);
  void (*role_lookup)(const char* cookie);
  const char* (*ancestor)(unsigned generation);
};
extern const DecisionHooks* decision_hooks;

// decision.cpp: 0 run the command, anything else refuse. check_parameters
// loads the installed policy and asks decide_sections, which asks the loaded
// policy's sections in order, logs the verdict and fills the record.
// The checks read the policy through const references and never change it,
// so each sees exactly the value it would see in a copy of its own; copying
// instead would cost a run a deep copy of every list it examines.
int check_parameters(const char* command, const char* cookie);
int decide_sections(const char* command, const char* cookie);
int check_fun(const char* command, const Json::Value& section, const char* cookie);
int black_check(const char* command, const Json::Value& list, int type_check, const char* cookie);
// check_fun's first step: a section's "is_type_check", "check_method" and
// "is_cookie_check", converted in this order whatever the method (a value
// that cannot be converted throws). *reading names the member being
// converted, so that a caller that catches the exception knows which failed.
struct SectionNumbers {
  int type_check;
  unsigned method;
};
SectionNumbers read_section_numbers(const Json::Value& section, const char** reading = nullptr);

// white_list.cpp: regular-expression white lists. pattern_error: the
// matcher's message when check_regexp cannot compile the pattern, empty
// when it can.
int check_regexp(const char* text, const char* pattern);
std::string pattern_error(const char* pattern);
int check_type(int type);
int white_check(const char* text, const Json::Value& list, int type_check, const char* cookie);
// What white_check reads of each entry it tries, before matching: the
// pattern as the matcher receives it ("pattern" as text, handed over as a C
// string, so a NUL byte ends it), and the cookie flag ("is_cookie_check",
// default 1).
std::string pattern_of(const Json::Value& entry);
int cookie_flag_of(const Json::Value& entry);
// How the entry that matched decides: allowed at once when its cookie flag
// is 0, or when the section checks types and its "type" (converted whenever
// the section checks types) is 0; otherwise by a role check.
MatchRule match_rule(const Json::Value& entry, int cookie_flag, int type_check);

// ancestry.cpp: the white list applied to the command lines of the ancestors.
int get_proc_name(int pid, char* buffer);
int ancestor_check(const char* command, const Json::Value& list, int type_check,
                   const char* cookie);

// role_lookup.cpp: asks the local web service for the cookie's account role
// information and leaves it in group_role. No request is made when the
// settings' protocol and port give role_settings_problem's reason.
int get_role_right(const char* cookie);
const char* role_settings_problem(const char* protocol, const char* port);
// The account that, besides root, may own the role service's socket: the
// policy's "role_service_user". Null when the member is missing (*given
// false) or names an account (*uid), else what is wrong with it; then no
// lookup is made.
const char* role_service_user(const Json::Value& policy, uid_t* uid, bool* given);

// role_reply.cpp: the reply body, collected piece by piece, then logged and
// parsed; group_role takes it only when the whole body parses.
struct url_data {
  size_t size;
  char* body;
};
size_t write_data(void* piece, size_t size, size_t nmemb, url_data* data);
void take_role_reply(const char* body);

// role_rights.cpp: compares group_role with a white-list entry's demands,
// category by category in kRightCategories' order; each level read with
// right_level (a missing member, or a missing or null object, is 0).
constexpr const char* kRightCategories[] = {"1", "2", "3", "4", "5"};
int right_level(const Json::Value& rights, const char* category);
int check_right(int granted, int required);
int check_role_right(Json::Value role_right);

// accounts.cpp: field field (kAccountName, kAccountHome) of uid's line in
// the password file, cut to fit out's size; false when it has no such line.
constexpr int kAccountName = 0;
constexpr int kAccountHome = 5;
bool account_field(uid_t uid, int field, char* out, size_t size);
// The uid of the account named name in the password file; false when none.
bool account_uid(const char* name, uid_t* uid);
template <size_t N>
bool account_field(uid_t uid, int field, char (&out)[N]) {
  return account_field(uid, field, out, N);
}

// audit.cpp: the system-log record of a decision, one datagram to the local
// log daemon, in addition to the log file. audit_record writes it as
// "<PRI>corvexin_check[PID]: " and the message (the README and
// corvexin_check(8) give its fields), without a time stamp: the daemon
// stamps the time it receives the record, and the local time would cost
// every run the time zone's set-up. The section, method, entry, role lookup
// and user come from the decision's record d. Text from outside the gate is
// escaped as loggable's quoted form and cut so that the record stays under
// kAuditRecordSize bytes. Null texts are written as "-".
constexpr size_t kAuditRecordSize = 7168;
struct AuditFacts {
  int pid = 0;                  // the gate's
  uid_t uid = 0;                // the caller's real uid
  const char* login = nullptr;  // its name in /etc/passwd, if there
  int ppid = 0;
  const char* parent = nullptr;  // the parent's command line, if readable
  const char* cwd = nullptr;     // the working directory, if known
  const char* command = "";
};
size_t audit_record(const Decision& d, const AuditFacts& facts, char (&out)[kAuditRecordSize]);
// Gathers the facts of this run (caller: the real uid taken before the gate
// took root identity) and sends the record of decision, unless the policy's
// "syslog" is 0. Never waits for the log daemon: when there is none, or it
// does not keep up, the record is dropped without a word.
void send_audit_record(uid_t caller, const char* command);

#include "findings.h"

#include <cstdio>
#include <cstdlib>

const FindingClass kFindingClasses[] = {
    // check: the policy does not load, or a run ends, or an entry never matches
    {"load-failed", Severity::kError, "the policy does not load: the gate refuses every command"},
    {"not-json-number", Severity::kError,
     "a number JSON does not allow, read by the gate as another"},
    {"run-ends", Severity::kError,
     "a value that the decision cannot convert: a run reaching it ends"},
    {"bad-pattern", Severity::kError, "a pattern that does not compile: the entry never matches"},
    {"untrusted-policy", Severity::kError,
     "the installed policy can be changed by others than root"},
    {"unsafe-file", Severity::kError, "a file the gate trusts can be changed by others than root"},
    {"allows-by-omission", Severity::kError,
     "a section missing or misspelt, or without \"check_method\": every command passes it"},
    // check: the policy allows more, or less, than it seems to
    {"not-anchored", Severity::kWarning,
     "a white-list pattern matches anywhere in the command line"},
    {"shell-metachar", Severity::kWarning, "an anchored pattern admits a shell metacharacter"},
    {"path-climb", Severity::kWarning,
     "a variable part admits \"..\" below a directory the entry names"},
    {"risky-option", Severity::kWarning,
     "a variable part admits an option that runs a program or reads or writes a chosen file"},
    {"names-program", Severity::kWarning, "a variable part names the program that runs"},
    {"comment", Severity::kWarning,
     "a variable part admits \"#\" after a blank: the fixed tail becomes a comment"},
    {"glob-option", Severity::kWarning,
     "a file-name pattern the shell expands, for a program whose options a file name can give"},
    {"interactive", Severity::kWarning,
     "an interactive program: a root shell for whoever starts the gate on a terminal"},
    {"package-file", Severity::kWarning,
     "a package installed from a file: its maintainer scripts run as root"},
    {"secret-file", Severity::kWarning,
     "a command line that names a file keeping secrets or deciding who is root"},
    {"pattern-not-string", Severity::kWarning,
     "a pattern that is a number, a boolean or null: the gate reads it as text"},
    {"nul-in-pattern", Severity::kWarning, "a pattern holds a NUL byte: the gate ignores the rest"},
    {"ancestor-without-role-check", Severity::kWarning,
     "an ancestor-check entry allows without a role check"},
    {"unreachable", Severity::kWarning, "an entry that is never tried or never matches first"},
    {"never-grants", Severity::kWarning,
     "a role-checked entry demands no level: only the administrator passes"},
    {"not-analysed", Severity::kWarning,
     "a pattern that no finite automaton models, or whose analysis passed its budget: only its "
     "tokens are checked"},
    {"ignored-member", Severity::kWarning, "a member that the gate never reads"},
    {"repeated-member", Severity::kWarning, "a member name given twice: the gate keeps the last"},
    {"unknown-method", Severity::kWarning,
     "a check method other than 0 to 3: the section refuses every command"},
    {"allows-everything", Severity::kWarning,
     "a section null or of method 0: it allows every command"},
    {"never-consulted", Severity::kWarning,
     "a ui_section behind a scripts_section that allows every command"},
    {"no-entries", Severity::kWarning,
     "a white list missing, empty or not an array: the section refuses"},
    {"no-settings", Severity::kWarning, "the settings give the role lookup nothing to ask"},
    {"no-service-user", Severity::kWarning,
     "the policy's \"role_service_user\" names no account: every role lookup fails"},
    {"weak-service-user", Severity::kWarning,
     "the policy's \"role_service_user\" can start the gate or is shared: role checks do not "
     "hold against it"},
    {"gate-mode", Severity::kWarning, "the installed gate can be started by every account"},
    {"writable-path", Severity::kWarning,
     "a program, file or directory an entry names that an account other than root can change"},
    {"bad-risk-rule", Severity::kWarning,
     "a line of the administrator's table of command risks that is not a rule, or the table "
     "cannot be read"},
    {"ancestor-role-check", Severity::kNote,
     "an ancestor-check entry is only as strong as its role check"},
    {"no-syslog", Severity::kNote, "the policy's \"syslog\" is 0: no system-log record"},
    {"glob", Severity::kNote, "a file-name pattern that the shell expands"},
    {"pager", Severity::kNote, "a program that pages its output: the gate gives it \"cat\""},
    // check, test, suggest: files
    {"unreadable", Severity::kError, "a file that cannot be read"},
    {"bad-case", Severity::kError, "a case file or case of a wrong shape"},
    // suggest
    {"unreadable-log", Severity::kError, "the log cannot be read"},
    {"policy-not-compared", Severity::kNote,
     "the policy does not load: nothing is compared with it"},
    {"policy-not-loaded", Severity::kNote, "the log shows runs whose policy did not load"},
    {"cut-in-log", Severity::kWarning, "a refused command line that the log keeps cut"},
    {"control-byte", Severity::kWarning, "a refused command line with a control byte"},
    {"already-matched", Severity::kNote, "a refused command line that an entry matches already"},
};
const size_t kFindingClassCount = sizeof kFindingClasses / sizeof kFindingClasses[0];

const FindingClass& finding_class(const std::string& code) {
  for (const FindingClass& c : kFindingClasses) {
    if (code == c.code) return c;
  }
  fprintf(stderr, "corvexin_policy: no finding class \"%s\"\n", code.c_str());
  abort();
}

const char* severity_name(Severity severity) {
  static const char* const kNames[] = {"note", "warning", "error"};  // in the order of Severity
  return kNames[static_cast<int>(severity)];
}

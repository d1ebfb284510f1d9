// The system-log record of a decision, one datagram to the local log daemon,
// in addition to the log file. audit_record writes it as
// "<PRI>corvexin_check[PID]: " and the message (the README and
// corvexin_check(8) give its fields), without a time stamp: the daemon
// stamps the time it receives the record, and the local time would cost
// every run the time zone's set-up. The section, method, entry, role lookup
// and user come from the decision's record d. Text from outside the gate is
// escaped as loggable's quoted form and cut so that the record stays under
// kAuditRecordSize bytes. Null texts are written as "-".
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "decision.h"

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

// What the caller brought to the run: the cookies, from the argument and from
// CORVEXIN_COOKIE (null where there is none), which no record shows, and
// the caller's working directory, taken before the gate leaves it (null:
// the record asks for the directory itself).
struct CallerFacts {
  const char* argument = nullptr;
  const char* variable = nullptr;
  const char* cwd = nullptr;
};
// The parent's command line as the record shows it: every occurrence of a
// cookie replaced by kCookieMark. Where that cannot be done safely (a cookie
// shorter than the mark, or a line cut where a cookie may go on: cut, the
// line filled its buffer), only its first word, the program, and that only
// when it holds no cookie (else null). Rewrites line in place.
constexpr char kCookieMark[] = "[cookie]";
const char* parent_without_cookies(char* line, bool cut, const CallerFacts& caller);

// Gathers the facts of this run (caller: the real uid taken before the gate
// took root identity) and sends the record of decision, unless the policy's
// "syslog" is 0. Waits for a log daemon that does not keep up for about a
// second in all. True when the log socket took the record; false when it
// was not to be sent or could not be (no /dev/log, the second passed, an
// error).
bool send_audit_record(uid_t caller, const char* command, const CallerFacts& facts);

// The system-log record of a decision: by whom, from where and why a command
// was allowed or refused, in the place every log tool reads. The log
// file stays as it is; this is one datagram more, sent to the local log
// daemon's socket, waited for a second at most.
#include "audit.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "ancestry.h"
#include "entry.h"
#include "log.h"
#include "policy.h"
#include "text.h"
#include "vocabulary.h"

namespace {

constexpr char kLogSocket[] = "/dev/log";
constexpr char kIdentity[] = "corvexin_check";
// The facility authpriv, and the priorities of the two verdicts.
constexpr int kAuthpriv = 10 << 3;
constexpr int kNotice = 5;
constexpr int kWarning = 4;

// The most bytes each text keeps in the record, escaped, quotes not counted.
constexpr size_t kLoginMax = 64;
constexpr size_t kUserMax = 128;
constexpr size_t kParentMax = 1024;
constexpr size_t kCwdMax = 1024;
constexpr size_t kCommandMax = kLoggedTextMax;
// The header and the fields that are not text: "<85>corvexin_check[PID]:
// refused: uid=N ppid=N section=scripts_section method=N entry=N
// role_lookup=yes" and the keys of the texts.
constexpr size_t kFixedMax = 256;
static_assert(kFixedMax + kLoginMax + kUserMax + kParentMax + kCwdMax + kCommandMax +
                      size_t{5} * 2 <
                  kAuditRecordSize,
              "every record fits");

// Appends to the caller's buffer; the budgets above keep every record inside it.
class Record {
 public:
  explicit Record(char (&out)[kAuditRecordSize]) : out_(out) {}
  void put(const char* text, size_t n) {
    n = n < kAuditRecordSize - 1 - size_ ? n : kAuditRecordSize - 1 - size_;
    memcpy(out_ + size_, text, n);
    size_ += n;
    out_[size_] = '\0';
  }
  void put(const char* text) { put(text, strlen(text)); }
  void number(unsigned long long value) {
    char digits[kDecimalSize];
    put(digits, decimal(value, digits));
  }
  // key="text", escaped by loggable's quoted form; a text longer than limit
  // is cut there and ends in "...[N bytes]", N its whole length, as in the
  // log. Null: key=-.
  void text(const char* key, const char* value, size_t limit) {
    put(key);
    if (value == nullptr) {
      put("=-");
      return;
    }
    char escaped[kLoggableSize];
    size_t n = loggable(value, escaped, true);
    char cut[kLengthMarkSize] = "";
    if (n > limit) {
      n = limit - length_mark(strlen(value), cut);
      // Every backslash starts an escape of four bytes, which stays whole.
      for (size_t back = 1; back < 4 && back <= n; ++back) {
        if (escaped[n - back] == '\\') {
          n -= back;
          break;
        }
      }
    }
    put("=\"");
    put(escaped, n);
    put(cut);
    put("\"");
  }
  size_t size() const { return size_; }

 private:
  char* out_;
  size_t size_ = 0;
};

// The section whose record tells why: the one that allowed the command; for
// a refusal, which every section asked made, the last one whose white list
// matched (the command, or an ancestor's command line), or else the last one
// asked. None when the policy did not load or the run ended on an error.
const SectionDecision* deciding_section(const Decision& d) {
  if (!d.loaded || d.verdict < 0 || d.count == 0) return nullptr;
  if (d.verdict != 0) {
    for (unsigned i = d.count; i-- > 0;) {
      if (d.sections[i].entry >= 0) return &d.sections[i];
    }
  }
  return &d.sections[d.count - 1];
}

}  // namespace

size_t audit_record(const Decision& d, const AuditFacts& facts, char (&out)[kAuditRecordSize]) {
  Record r(out);
  const bool allowed = d.verdict == 0;
  r.put("<");
  r.number(static_cast<unsigned>(kAuthpriv + (allowed ? kNotice : kWarning)));
  r.put(">");
  r.put(kIdentity);
  r.put("[");
  r.number(static_cast<unsigned>(facts.pid));
  r.put("]: ");
  r.put(allowed ? "allowed:" : "refused:");
  r.put(" uid=");
  r.number(facts.uid);
  r.text(" login", facts.login, kLoginMax);
  r.put(" ppid=");
  r.number(static_cast<unsigned>(facts.ppid));
  r.text(" parent", facts.parent, kParentMax);
  r.text(" cwd", facts.cwd, kCwdMax);
  const SectionDecision* s = deciding_section(d);
  r.put(" section=");
  r.put(s != nullptr ? s->name : "none");
  r.put(" method=");
  if (s != nullptr && s->read) {
    r.number(s->method);
  } else {
    r.put("-");
  }
  r.put(" entry=");
  if (s != nullptr && s->entry >= 0) {
    r.number(static_cast<unsigned>(s->entry));
  } else {
    r.put("-");
  }
  r.put(s != nullptr && s->role_lookup ? " role_lookup=yes" : " role_lookup=no");
  r.text(" user", s != nullptr && !s->user.empty() ? s->user.c_str() : nullptr, kUserMax);
  r.text(" command", facts.command, kCommandMax);
  return r.size();
}

namespace {

// The record goes to the log daemon as one datagram. A daemon whose queue is
// full (any local account can keep it full) is waited for, a second in all,
// and the send is retried until then; past that, the caller writes the
// record's lines into the log file instead (main.cpp). No daemon (no socket,
// or a socket nobody listens on) and a queue that stayed full are the usual
// reasons and pass without a word; anything else says why on standard error,
// without stdio: the alarm's handler sends the record too.
constexpr long kSendMillis = 1000;

void report_unsent(int error) {
  if (error == ENOENT || error == ECONNREFUSED || error == EAGAIN || error == EWOULDBLOCK ||
      error == ENOBUFS)
    return;
  say_on_stderr(
      {"corvexin_check: ", kLogSocket, ": ", strerrordesc_np(error), "; no system-log record\n"});
}

// A socket connected to the log daemon's, or -1.
int connect_to_daemon() {
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    report_unsent(errno);
    return -1;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  memcpy(address.sun_path, kLogSocket, sizeof kLogSocket);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    report_unsent(errno);
    close(fd);
    return -1;
  }
  return fd;
}

long millis_since(const timespec& start) {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// Sends the datagram, blocking while the daemon's queue is full, until
// kSendMillis after start. True when the socket took it.
bool deliver(int fd, const char* record, size_t size, const timespec& start) {
  int error = EAGAIN;
  for (long left; (left = kSendMillis - millis_since(start)) > 0;) {
    const timeval wait{left / 1000, static_cast<suseconds_t>(left % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
    if (send(fd, record, size, MSG_NOSIGNAL) >= 0) return true;
    error = errno;
    if (error == ENOBUFS) {
      const timespec pause{0, 1000000};
      nanosleep(&pause, nullptr);
    } else if (error != EINTR && error != EAGAIN && error != EWOULDBLOCK) {
      break;
    }
  }
  report_unsent(error);
  return false;
}

// Text ends in the beginning of secret: where the text was cut, the rest of
// the cookie may have followed.
bool ends_in_start_of(const char* text, const char* secret) {
  const size_t length = strlen(text), n = strlen(secret);
  for (size_t k = 1; k < n && k <= length; ++k) {
    if (memcmp(text + length - k, secret, k) == 0) return true;
  }
  return false;
}

// Replaces every occurrence of secret (at least as long as the mark) in
// line by the mark; the line never grows.
void replace_secret(char* line, const char* secret) {
  const size_t n = strlen(secret);
  const size_t mark = sizeof kCookieMark - 1;
  char* out = line;
  for (const char* in = line; *in != '\0';) {
    if (strncmp(in, secret, n) == 0) {
      memcpy(out, kCookieMark, mark);
      out += mark;
      in += n;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
}

}  // namespace

const char* parent_without_cookies(char* line, bool cut, const CallerFacts& caller) {
  const char* cookies[] = {caller.argument, caller.variable};
  bool safe = true;
  for (const char* cookie : cookies) {
    if (cookie == nullptr || *cookie == '\0') continue;
    if (strlen(cookie) < sizeof kCookieMark - 1 || (cut && ends_in_start_of(line, cookie)))
      safe = false;
  }
  if (safe) {
    for (const char* cookie : cookies) {
      if (cookie != nullptr && *cookie != '\0') replace_secret(line, cookie);
    }
    return line;
  }
  // The program alone, when it holds none of the cookies.
  line[strcspn(line, " ")] = '\0';
  for (const char* cookie : cookies) {
    if (cookie != nullptr && *cookie != '\0' && strstr(line, cookie) != nullptr) return nullptr;
  }
  return line;
}

bool send_audit_record(uid_t caller, const char* command, const CallerFacts& brought) {
  if (syslog_records == 0) return false;
  timespec start{};
  clock_gettime(CLOCK_MONOTONIC, &start);
  // Nothing is gathered for a record that has nowhere to go.
  const int fd = connect_to_daemon();
  if (fd < 0) return false;
  AuditFacts facts;
  facts.pid = getpid();
  facts.uid = caller;
  char login[kLoginMax + 1];
  facts.login = account_field(caller, kAccountName, login) ? login : nullptr;
  facts.ppid = getppid();
  char parent[kProcNameSize + 1] = "";
  if (get_proc_name(facts.ppid, parent) == 0)
    facts.parent = parent_without_cookies(parent, strlen(parent) >= kProcNameSize, brought);
  char cwd[4096];
  facts.cwd = brought.cwd != nullptr ? brought.cwd : getcwd(cwd, sizeof cwd);
  facts.command = command;
  char record[kAuditRecordSize];
  const size_t size = audit_record(decision, facts, record);
  const bool sent = deliver(fd, record, size, start);
  close(fd);
  return sent;
}

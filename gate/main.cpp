// Entry of the gate: puts the process into a known state, asks the decision
// whether the command may run, and becomes the shell or refuses.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <exception>

#include "audit.h"
#include "decision.h"
#include "entry.h"
#include "log.h"
#include "policy.h"

namespace {

// The whole run up to the exec (or the refusal) is bounded: nothing a caller
// or the role service does may hold a root process for longer. The alarm
// keeps its default action, which ends the run without running the command.
constexpr unsigned kRunSeconds = 60;

// Closes every inherited descriptor above 2, whatever the caller's limit on
// open files says: a descriptor can lie above the limit it was lowered to.
// close_range does it in one call; where the kernel lacks it, close each one
// up to the largest number a descriptor can have here.
void close_inherited_descriptors() {
  if (close_range(3, UINT_MAX, 0) == 0) return;
  rlimit files{};
  long limit = sysconf(_SC_OPEN_MAX);
  if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_max != RLIM_INFINITY &&
      static_cast<long>(files.rlim_max) > limit)
    limit = static_cast<long>(files.rlim_max);
  for (long fd = 3; fd < limit; ++fd) close(static_cast<int>(fd));
}

// Default dispositions, no blocked signal, and no interval timer left running
// by the caller (they survive the exec, and would end the run at a moment of
// the caller's choosing).
void reset_signals() {
  for (int n = 0; n <= 64; ++n) signal(n, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const itimerval stopped{};
  for (int timer : {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF}) setitimer(timer, &stopped, nullptr);
}

// Results are deliberately ignored: a gate that is not installed with the
// privilege keeps running with the identity it has.
void take_root_identity() {
  if (setegid(0) != 0) {
  }
  if (seteuid(0) != 0) {
  }
  if (setgid(0) != 0) {
  }
  if (setuid(0) != 0) {
  }
}

// The caller's resource limits, which must not end or tear the gate's own
// run (a file-size limit killing it halfway through a log line, a data limit
// making an allocation fail where not even the failure can be reported), but
// under which the command runs. Each is lifted as far as the gate's privilege
// allows; needed is the least the run must have to be decided at all (0: no
// such bound; a log line that would pass the file-size limit is left out).
// Resource: the type getrlimit takes, whatever the C library calls it.
using Resource = decltype(RLIMIT_FSIZE);
struct Limit {
  Resource resource;
  rlim_t needed;
};
constexpr Limit kLimits[] = {
    {RLIMIT_FSIZE, 0},       {RLIMIT_DATA, 64 << 20},   {RLIMIT_AS, 256 << 20},
    {RLIMIT_STACK, 1 << 20}, {RLIMIT_CPU, kRunSeconds}, {RLIMIT_NOFILE, 64},
    {RLIMIT_RTTIME, 0},
};
constexpr size_t kLimitCount = sizeof kLimits / sizeof kLimits[0];
// Open files: enough for the gate and a role lookup, whose own use is a handful.
constexpr rlim_t kFiles = 1024;

struct CallerLimits {
  rlimit saved[kLimitCount];
  bool changed[kLimitCount];  // lifted, so to be put back before the exec
};

// True when every limit leaves the run what it needs. A limit that is
// already where it would be lifted to is left alone.
bool raise_limits(CallerLimits& caller) {
  bool enough = true;
  for (size_t i = 0; i < kLimitCount; ++i) {
    const auto resource = kLimits[i].resource;
    const rlimit& old = caller.saved[i];
    caller.changed[i] = false;
    if (getrlimit(resource, &caller.saved[i]) != 0) continue;
    rlimit raised{RLIM_INFINITY, RLIM_INFINITY};
    if (resource == RLIMIT_NOFILE)
      raised = {std::max(old.rlim_cur, kFiles), std::max(old.rlim_max, kFiles)};
    const rlimit to_hard{old.rlim_max, old.rlim_max};
    rlim_t now = old.rlim_cur;
    if (raised.rlim_cur == old.rlim_cur && raised.rlim_max == old.rlim_max) {
      // nothing to lift
    } else if (setrlimit(resource, &raised) == 0) {
      caller.changed[i] = true;
      now = raised.rlim_cur;
    } else if (old.rlim_cur != old.rlim_max && setrlimit(resource, &to_hard) == 0) {
      // Without the privilege to lift a hard limit, the soft one goes up to it.
      caller.changed[i] = true;
      now = old.rlim_max;
    }
    enough = enough && now >= kLimits[i].needed;
  }
  return enough;
}

void restore_limits(const CallerLimits& caller) {
  for (size_t i = 0; i < kLimitCount; ++i) {
    if (caller.changed[i] && setrlimit(kLimits[i].resource, &caller.saved[i]) != 0)
      perror("corvexin_check: setrlimit");
  }
}

// A failure that escaped the decision (a policy value of a type that cannot be
// converted, nesting too deep, memory exhausted), or limits that leave the
// run too little to decide, is a refusal like any other, and recorded as
// one. Nothing here allocates but the password database's lookup of the
// system-log record, which leaves out the name when it fails.
int refuse_after_error(const char* command, const char* what, uid_t caller) {
  fprintf(stderr, "corvexin_check: %s\n", what);
  log_refusal(command);
  send_audit_record(caller, command);
  puts("failed to pass the parameter check");
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  // Who started the gate, for the system-log record: taking root identity
  // replaces the real uid too.
  const uid_t caller_uid = getuid();
  close_inherited_descriptors();
  reset_signals();
  umask(022);
  take_root_identity();
  CallerLimits caller{};
  const bool room = raise_limits(caller);
  // The log is written only whole (see log.cpp); no write may end the run.
  signal(SIGXFSZ, SIG_IGN);
  alarm(kRunSeconds);

  if (argc != 2 && argc != 3) {
    fputs("wrong parameter number input", stdout);
    return 1;
  }
  const char* command = argv[1];
  if (command == nullptr || (argc == 3 && argv[2] == nullptr)) return 1;
  if (!room)
    return refuse_after_error(command, "the resource limits leave too little to decide",
                              caller_uid);

  int verdict = 1;
  try {
    // A cookie argument wins over the variable; without either, the default.
    const char* environment_cookie = take_environment_cookie();
    clean_environment();
    const char* cookie = argc == 3                       ? argv[2]
                         : environment_cookie != nullptr ? environment_cookie
                                                         : kDefaultCookie;
    verdict = check_parameters(command, cookie, started_with_privilege());
  } catch (const std::exception& e) {
    return refuse_after_error(command, e.what(), caller_uid);
  } catch (...) {
    return refuse_after_error(command, "unexpected error", caller_uid);
  }
  send_audit_record(caller_uid, command);
  if (verdict != 0) {
    puts("failed to pass the parameter check");
    return 1;
  }
  restore_limits(caller);
  signal(SIGXFSZ, SIG_DFL);
  alarm(0);
  // Standard output is deliberately not flushed: trace text still buffered
  // for a pipe is discarded with the process image.
  execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
  return -1;
}

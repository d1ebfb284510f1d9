// Entry of the gate: puts the process into a known state, asks the decision
// whether the command may run, and becomes the shell or refuses.
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "audit.h"
#include "decision.h"
#include "entry.h"
#include "log.h"
#include "log_lines.h"
#include "policy.h"
#include "role_lookup.h"
#include "role_rights.h"
#include "vocabulary.h"

namespace {

// The whole run up to the exec (or the refusal) is bounded: nothing a caller
// or the role service does may hold a root process for longer. When the
// alarm ends a run, the run is refused and recorded like any other (on_alarm).
constexpr unsigned kRunSeconds = 60;

// What on_alarm needs: the command once the arguments are known, the caller,
// the cookies that no record shows, and whether the run's decision has been
// logged and recorded already.
const char* run_command = nullptr;
uid_t run_caller = 0;
CallerFacts run_facts;
volatile sig_atomic_t recorded = 0;

// A run that the alarm ends (a caller's pipe that is never read holding a
// trace line or the refusal, a role service that holds the lookup) refuses
// the command: its log lines and its system-log record, then exit status 1.
// Only async-signal-safe calls: the log and the record are written with plain
// descriptor calls into buffers on the stack. Standard output and error, which
// may be what holds the run, become /dev/null first, so no message of the
// log or the record can block; with the trace switch off nothing is printed
// anyway. The decision's record may be half written when the alarm comes:
// the system-log record names no section.
void on_alarm(int) {
  if (recorded == 0 && run_command != nullptr) {
    const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
    }
    enable_log = 0;
    decision.count = 0;
    decision.verdict = -1;
    log_refusal(run_command);
    send_audit_record(run_caller, run_command, run_facts);
  }
  _exit(1);
}

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

// The terminal's stop signals: a caller on a terminal (^Z, or a background
// gate that reads or writes it) would otherwise hold a root gate stopped,
// past the run's bound and beyond the caller's reach.
constexpr int kTerminalStops[] = {SIGTSTP, SIGTTIN, SIGTTOU};

// Default dispositions but for the terminal's stop signals, which are ignored
// until the exec; no blocked signal, and no interval timer left running by
// the caller (they survive the exec, and would end the run at a moment of the
// caller's choosing).
void reset_signals() {
  for (int n = 0; n <= 64; ++n) signal(n, SIG_DFL);
  for (int stop : kTerminalStops) signal(stop, SIG_IGN);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const itimerval stopped{};
  for (int timer : {ITIMER_REAL, ITIMER_VIRTUAL, ITIMER_PROF}) setitimer(timer, &stopped, nullptr);
}

// Takes root identity; null when the real and effective uid are then 0, or
// else why not. A set-uid start also drops the caller's supplementary groups,
// so that the command runs with root's group alone; a root caller keeps its
// own. A gate that could not become root runs nothing: the command would run
// as the caller, and its status would tell the caller that root ran it.
const char* take_root_identity(bool setuid_start) {
  static char why[128];
  const char* failed = nullptr;
  int error = 0;
  const auto attempt = [&](int result, const char* call) {
    if (result != 0 && failed == nullptr) failed = call, error = errno;
  };
  attempt(setegid(0), "setegid");
  attempt(seteuid(0), "seteuid");
  attempt(setgid(0), "setgid");
  attempt(setuid(0), "setuid");
  if (setuid_start) attempt(setgroups(0, nullptr), "setgroups");
  if (getuid() == 0 && geteuid() == 0 && failed == nullptr) return nullptr;
  // The usual causes: the set-uid bit had no effect.
  if (prctl(PR_GET_NO_NEW_PRIVS, 0, 0, 0, 0) == 1)
    return "no_new_privs is set, so the set-uid bit has no effect";
  if (geteuid() != 0 && !setuid_start)
    return "not started as root (the gate is not set-uid root, or lies on a nosuid mount)";
  (void)snprintf(why, sizeof why, "%s: %s", failed != nullptr ? failed : "setuid",
                 strerror(failed != nullptr ? error : EPERM));
  return why;
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
  // A command that was allowed and is refused all the same.
  if (decision.verdict == 0) decision.verdict = 1;
  log_refusal(command);
  send_audit_record(caller, command, run_facts);
  recorded = 1;
  puts("failed to pass the parameter check");
  return 1;
}

// An allowed command runs only with a trace that outlives the run: its
// system-log record, delivered, or else its lines in the log file, written
// whatever "enable_log" says (and not twice where it wrote them already).
// False when neither could be written.
bool trace_allowed(uid_t caller, const char* command) {
  if (send_audit_record(caller, command, run_facts) || decision.logged) return true;
  return log_allowed(command, section_index(), 1);
}

}  // namespace

int main(int argc, char* argv[]) {
  // Who started the gate, for the system-log record: taking root identity
  // replaces the real uid too.
  const uid_t caller_uid = getuid();
  run_caller = caller_uid;
  // Taken out of the environment at once, so that even the records of a start
  // that ends early can hide it.
  const char* environment_cookie = take_environment_cookie();
  run_facts.variable = environment_cookie;
  if (argc == 3) run_facts.argument = argv[2];
  close_inherited_descriptors();
  reset_signals();
  // A write to a pipe whose reader is gone fails instead of ending the run
  // before its refusal is logged and recorded; the command gets the default.
  signal(SIGPIPE, SIG_IGN);
  umask(022);
  const bool setuid_start = started_with_privilege();
  if (const char* why = take_root_identity(setuid_start)) {
    fprintf(stderr, "corvexin_check: cannot become root: %s\n", why);
    if ((argc == 2 || argc == 3) && argv[1] != nullptr)
      send_audit_record(caller_uid, argv[1], run_facts);
    puts("failed to pass the parameter check");
    return 1;
  }
  CallerLimits caller{};
  const bool room = raise_limits(caller);
  // The log is written only whole (see log.cpp); no write may end the run.
  signal(SIGXFSZ, SIG_IGN);
  struct sigaction timeout {};
  timeout.sa_handler = on_alarm;
  sigfillset(&timeout.sa_mask);
  sigaction(SIGALRM, &timeout, nullptr);
  alarm(kRunSeconds);

  if (argc != 2 && argc != 3) {
    fputs("wrong parameter number input", stdout);
    return 1;
  }
  const char* command = argv[1];
  if (command == nullptr || (argc == 3 && argv[2] == nullptr)) return 1;
  run_command = command;
  if (!room)
    return refuse_after_error(command, "the resource limits leave too little to decide",
                              caller_uid);

  // The decision rules make their role lookups through the lookup's transfer.
  set_role_transfer(fetch_role_reply);
  int verdict = 1;
  try {
    // A cookie argument wins over the variable; without either, the default.
    clean_environment();
    const char* cookie = argc == 3                       ? argv[2]
                         : environment_cookie != nullptr ? environment_cookie
                                                         : kDefaultCookie;
    verdict = check_parameters(command, cookie, setuid_start);
  } catch (const std::exception& e) {
    return refuse_after_error(command, e.what(), caller_uid);
  } catch (...) {
    return refuse_after_error(command, "unexpected error", caller_uid);
  }
  if (verdict != 0) {
    send_audit_record(caller_uid, command, run_facts);
    recorded = 1;
    puts("failed to pass the parameter check");
    return 1;
  }
  // The command runs in "/", not in the caller's directory, where a file
  // named like an option would reach a "*" of the command, and a module or a
  // configuration file would be found before the system's. This is the last
  // step that can still refuse, so the record that follows tells the truth.
  char caller_directory[4096];  // main's frame lives until the exec
  run_facts.cwd = getcwd(caller_directory, sizeof caller_directory);
  if (setuid_start && chdir("/") != 0) {
    const std::string why = std::string("chdir /: ") + strerror(errno);
    return refuse_after_error(command, why.c_str(), caller_uid);
  }
  if (!trace_allowed(caller_uid, command)) {
    return refuse_after_error(
        command, "neither the system log nor the log file takes the record of the allowed command",
        caller_uid);
  }
  recorded = 1;
  restore_limits(caller);
  alarm(0);
  signal(SIGXFSZ, SIG_DFL);
  signal(SIGPIPE, SIG_DFL);
  for (int stop : kTerminalStops) signal(stop, SIG_DFL);
  // Standard output is deliberately not flushed: trace text still buffered
  // for a pipe is discarded with the process image.
  execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
  // The record said "allowed": that the command did not run is logged and
  // recorded too (standard output and error stay as the command left them).
  log_text(command, 1);
  log_param(kLogExecFailed, 1);
  decision.verdict = -1;
  send_audit_record(caller_uid, command, run_facts);
  return -1;
}

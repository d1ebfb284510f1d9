#include "ancestry.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log.h"
#include "log_lines.h"
#include "policy.h"
#include "text.h"
#include "white_list.h"

namespace {

constexpr size_t kPathSize = 1024;
// A stat record is a few hundred bytes; the name field is at most 64.
constexpr size_t kStatSize = 4096;

// Reads up to size bytes of /proc/PID/NAME into buffer and terminates them;
// false when the file cannot be opened. Plain descriptor reads and a path put
// together by hand: the system-log record of every run reads its parent's
// command line, and stdio's and snprintf's machinery would cost the run more
// than the reading itself.
bool read_proc_file(int pid, const char* name, char* buffer, size_t size, size_t* length) {
  char digits[kDecimalSize];
  const size_t pid_length = decimal(static_cast<unsigned>(pid), digits);
  char path[kPathSize] = "/proc/";
  strncat(path, digits, pid_length);
  strncat(path, "/", 2);
  strncat(path, name, kPathSize - strlen(path) - 1);
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  size_t n = 0;
  while (n < size) {
    const ssize_t got = read(fd, buffer + n, size - n);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    n += static_cast<size_t>(got);
  }
  close(fd);
  buffer[n] = '\0';
  *length = n;
  return true;
}

// Reads the parent pid of pid from its stat record, -1 when the record cannot
// be read or parsed. The name field is in parentheses and may itself hold
// blanks and parentheses, so the fields are counted from the record's last
// ')': the state, then the parent pid. Counting blank-separated fields from
// the start would let a process that names itself, say, "a b 4242" send the
// walk to a process of its choosing.
int read_parent_pid(int pid) {
  char record[kStatSize + 1];
  size_t n = 0;
  if (!read_proc_file(pid, "stat", record, kStatSize, &n)) {
    if (enable_log) printf("open /proc/pid/stat filed");
    return -1;
  }
  // After the name: " S PPID ", the state one letter, the pid in decimal.
  const char* end_of_name = strrchr(record, ')');
  if (end_of_name == nullptr || end_of_name[1] != ' ' || end_of_name[2] == '\0' ||
      end_of_name[3] != ' ')
    return -1;
  const char* digits = end_of_name + 4;
  char* stop = nullptr;
  errno = 0;
  const long parent = strtol(digits, &stop, 10);
  if (stop == digits || *stop != ' ' || errno != 0 || parent < 0 || parent > INT_MAX) return -1;
  return static_cast<int>(parent);
}

}  // namespace

// Reads the command line of pid into buffer (kProcNameSize bytes and a
// terminator): the arguments joined by single blanks, cut after
// kProcNameSize bytes. 0 when read (possibly empty), -1 when the process's
// cmdline cannot be opened.
int get_proc_name(int pid, char* buffer) {
  size_t n = 0;
  if (!read_proc_file(pid, "cmdline", buffer, kProcNameSize, &n)) {
    if (enable_log) puts("failed to open /proc/pid/cmdline");
    return -1;
  }
  if (n > 0) {
    if (buffer[n - 1] == '\n') buffer[n - 1] = '\0';
    for (size_t i = 0; i + 1 < n; ++i) {
      if (buffer[i] == '\0') buffer[i] = ' ';
    }
  }
  return 0;
}

namespace {

// Reads the command line of the ancestor of the given generation into name
// (0 the parent, whose pid the caller has put into pid; then the parent of
// the previous pid). false when the walk ends: no further ancestor below
// init, or one whose files cannot be read. With the hooks' ancestor given,
// the command lines come from there, cut as a real one would be.
bool next_ancestor(const DecisionHooks* hooks, unsigned generation, int& pid,
                   char (&name)[kProcNameSize + 1]) {
  memset(name, 0, sizeof name);
  if (hooks != nullptr && hooks->ancestor != nullptr) {
    const char* line = hooks->ancestor(hooks->context, generation);
    if (line == nullptr) return false;
    memcpy(name, line, strnlen(line, kProcNameSize));
    pid = 0;
    return true;
  }
  if (generation > 0) {
    pid = read_parent_pid(pid);
    if (pid < 0) return false;
    if (enable_log) printf("gp%u id=%d\n", generation, pid);
  }
  if (pid <= 1) return false;
  if (get_proc_name(pid, name) != 0) {
    if (enable_log) puts("get_proc_name failed");
    return false;
  }
  return true;
}

}  // namespace

// Allows the command when the command line of one of the gate's ancestors,
// from the parent up to (not including) init, passes the white list. The
// command itself is not examined. The section's record keeps the last
// ancestor whose command line matched an entry.
int ancestor_check(const char*, const Json::Value& list, int type_check, const char* cookie,
                   SectionDecision& record, const DecisionHooks* hooks) {
  if (enable_log) printf("pid = %d\n", getpid());
  int pid = getppid();
  if (enable_log) printf("ppid = %d\n", pid);
  char name[kProcNameSize + 1];
  for (unsigned generation = 0; next_ancestor(hooks, generation, pid, name); ++generation) {
    const unsigned matches = record.matches;
    const int allowed = white_check(name, list, type_check, cookie, record, hooks);
    if (record.matches != matches) memcpy(record.ancestor, name, sizeof name);
    if (allowed == 0) {
      log_param(kLogAncestorMatched, 0);
      return 0;
    }
  }
  return 1;
}

#include "log.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "decision.h"
#include "policy.h"
#include "text.h"

namespace {

void write_all(int fd, const char* p, size_t left) {
  while (left > 0) {
    const ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

void not_logged(const char* why) {
  fprintf(stderr, "corvexin_check: %s %s; nothing logged\n", kLogPath, why);
}

// Whether a line of n bytes still fits under the file-size limit. Where the
// limit could not be lifted, a line that would cross it is left out whole
// rather than written in part.
bool fits(const struct stat& st, size_t n) {
  rlimit size{};
  return getrlimit(RLIMIT_FSIZE, &size) != 0 || size.rlim_cur == RLIM_INFINITY ||
         (st.st_size >= 0 && static_cast<rlim_t>(st.st_size) + n <= size.rlim_cur);
}

// Appends the message and a newline to the log. Both go out in one writev()
// on an O_APPEND descriptor, so lines of gates running at once may interleave
// but are never torn; nothing is allocated, so a refusal is logged even when
// memory has run out. The message is written verbatim, never used as a
// format. The log is written only when it is a regular file: a symbolic link
// put in its place would make root write into the file it points to, and a
// FIFO would hold the gate.
int log_to_file(const char* message) {
  const int fd =
      open(kLogPath, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    // A link fails to open (ELOOP), and so does a FIFO that nobody reads (ENXIO).
    if (errno == ELOOP || errno == ENXIO) {
      not_logged("is not a regular file");
    } else if (errno != ENOENT) {  // a missing log directory is no error
      fprintf(stderr, "corvexin_check: %s: %s\n", kLogPath, strerror(errno));
    }
    return 1;
  }
  const size_t length = strlen(message);
  struct stat st {};
  int result = 1;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    not_logged("is not a regular file");
  } else if (!fits(st, length + 1)) {
    not_logged("would pass the caller's file-size limit");
  } else {
    iovec line[2] = {{const_cast<char*>(message), length}, {const_cast<char*>("\n"), 1}};
    ssize_t n;
    do n = writev(fd, line, 2);
    while (n < 0 && errno == EINTR);
    // A short write (a full disk) is finished piece by piece.
    const size_t done = n < 0 ? length + 1 : static_cast<size_t>(n);
    if (done < length) write_all(fd, message + done, length - done);
    if (done <= length) write_all(fd, "\n", 1);
    result = 0;
  }
  close(fd);
  return result;
}

}  // namespace

int log_param(const char* message, int force) {
  if (decision_hooks != nullptr) {
    decision_hooks->logged(decision_hooks->context, message, force);
    return 0;
  }
  if (force == 1 || enable_log != 0) return log_to_file(message);
  return 0;
}

int log_text(const char* text, int force) {
  char line[kLoggableSize];
  loggable(text, line);
  return log_param(line, force);
}

void log_refusal(const char* command) {
  log_text(command, 1);
  log_param(kLogRefused, 1);
}

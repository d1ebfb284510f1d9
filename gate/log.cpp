#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "gate.h"

// Appends the message and a newline to the log. Both go out in one write() on
// an O_APPEND descriptor, so lines of gates running at once may interleave but
// are never torn. The message is written verbatim, never used as a format.
int log_to_file(const char* message) {
  int fd = open(kLogPath, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return 1;
  std::string line(message);
  line += '\n';
  const char* p = line.data();
  size_t left = line.size();
  while (left > 0) {
    ssize_t n = write(fd, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    p += n;
    left -= static_cast<size_t>(n);
  }
  close(fd);
  return 0;
}

int log_param(const char* message, int force) {
  if (decision_hooks != nullptr) {
    decision_hooks->logged(message, force);
    return 0;
  }
  if (force == 1 || enable_log != 0) return log_to_file(message);
  return 0;
}

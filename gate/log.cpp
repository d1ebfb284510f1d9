#include "log.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "log_lines.h"
#include "policy.h"
#include "text.h"
#include "vocabulary.h"

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

// Says on standard error why nothing is logged, once in a run, without
// stdio: the alarm's handler logs too (main.cpp).
void not_logged(const char* why, int error = 0) {
  static bool said = false;
  if (said) return;
  said = true;
  say_on_stderr({"corvexin_check: ", kLogPath, " ", why, error != 0 ? ": " : "",
                 error != 0 ? strerrordesc_np(error) : "", "; nothing logged\n"});
}

// The log's directory, reached without following a symbolic link in any
// component of its path (a link would let whoever can change one of them send
// root's lines into a file of their choosing, /etc/logrotate.d/ for one):
// openat2() refuses links on the whole path; a kernel without it (before
// Linux 5.6) is walked from "/" one directory at a time. -1 and errno on
// failure, ELOOP or ENOTDIR for a link on the path.
int open_log_directory(const char* path) {
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_NO_SYMLINKS;
  const long fd = syscall(SYS_openat2, AT_FDCWD, path, &how, sizeof how);
  if (fd >= 0 || errno != ENOSYS) return static_cast<int>(fd);
  int at = open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
  char name[sizeof kLogPath];
  for (const char* p = path; at >= 0 && *p != '\0';) {
    const size_t length = strcspn(p, "/");
    if (length > 0 && length < sizeof name) {
      memcpy(name, p, length);
      name[length] = '\0';
      const int next = openat(at, name, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const int error = errno;
      close(at);
      at = next;
      errno = error;
    }
    p += length + (p[length] == '/' ? 1 : 0);
  }
  return at;
}

// The log file, opened for appending (created when missing) and used only
// where nobody but root can have put it: in a directory that is root's and
// that neither group nor others may write, a regular file of root's with one
// link. A FIFO is not waited for. -1 when it is not to be written; the reason
// is then on standard error, except for a missing log directory, which is no
// error.
int open_log() {
  char directory[sizeof kLogPath];
  memcpy(directory, kLogPath, sizeof kLogPath);
  *strrchr(directory, '/') = '\0';
  const int dir = open_log_directory(directory);
  if (dir < 0) {
    if (errno == ELOOP || errno == ENOTDIR) {
      not_logged("has a symbolic link on its path");
    } else if (errno != ENOENT) {
      not_logged("cannot be reached", errno);
    }
    return -1;
  }
  struct stat st {};
  int fd = -1;
  if (fstat(dir, &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != 0 ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    not_logged("lies in a directory that someone other than root may change");
  } else if ((fd = openat(
                  dir, kLogPath + strlen(directory) + 1,
                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                  0666)) < 0) {
    // A link fails to open (ELOOP), and so does a FIFO that nobody reads (ENXIO).
    if (errno == ELOOP || errno == ENXIO) {
      not_logged("is not a regular file");
    } else {
      not_logged("cannot be opened", errno);
    }
  } else if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    not_logged("is not a regular file");
  } else if (st.st_uid != 0 || st.st_nlink != 1) {
    not_logged(st.st_uid != 0 ? "is not owned by root" : "has more than one link");
  } else {
    close(dir);
    return fd;
  }
  if (fd >= 0) close(fd);
  close(dir);
  return -1;
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
// format. The log is written only where open_log finds it safe. Only plain
// descriptor calls: the alarm's handler logs too.
int log_to_file(const char* message) {
  const int fd = open_log();
  if (fd < 0) return 1;
  const size_t length = strlen(message);
  struct stat st {};
  int result = 1;
  if (fstat(fd, &st) != 0) {
    not_logged("cannot be examined", errno);
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

std::vector<std::string>* log_capture = nullptr;

int log_param(const char* message, int force) {
  if (log_capture != nullptr) {
    log_capture->push_back(message);
    return 0;
  }
  if (force == 1 || enable_log != 0) return log_to_file(message);
  return 0;
}

void say_on_stderr(std::initializer_list<const char*> parts) {
  iovec line[8];
  int count = 0;
  for (const char* part : parts) {
    if (count == 8) break;
    if (part == nullptr) part = "?";
    line[count++] = {const_cast<char*>(part), strlen(part)};
  }
  ssize_t n;
  do n = writev(STDERR_FILENO, line, count);
  while (n < 0 && errno == EINTR);
}

int log_text(const char* text, int force) {
  char line[kLoggableSize];
  loggable(text, line);
  return log_param(line, force);
}

bool log_allowed(const char* command, unsigned section, int force) {
  const int text = log_text(command, force);
  const int passed = log_param(section == 0 ? kLogScriptsPassed : kLogUiPassed, force);
  return log_capture == nullptr && (force == 1 || enable_log != 0) && text == 0 && passed == 0;
}

void log_refusal(const char* command) {
  log_text(command, 1);
  log_param(kLogRefused, 1);
}

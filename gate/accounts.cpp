// Accounts, read straight from the password file: the caller's name for the
// system-log record, root's home directory for a set-uid start's
// environment. getpwuid would ask the name service switch first (probing for
// nscd, reading nsswitch.conf, perhaps loading modules into a set-uid root
// process), which costs a run more than all the rest of the record; the
// gate's callers are local system accounts, which the password file holds.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "entry.h"

namespace {

constexpr char kPasswdPath[] = "/etc/passwd";

// Whether a line of the password file, "name:password:uid:gid:gecos:home:
// shell", is uid's; field number field of it then goes to out (size bytes,
// cut to fit).
bool field_of(const char* line, uid_t uid, int field, char* out, size_t size) {
  const char* fields[7] = {line};
  int count = 1;
  for (const char* p = line; count < 7 && (p = strchr(p, ':')) != nullptr; ++p)
    fields[count++] = p + 1;
  if (count < 4 || field >= count) return false;
  unsigned long long value = 0;
  const char* p = fields[2];
  for (; *p >= '0' && *p <= '9' && value <= UINT32_MAX; ++p)
    value = value * 10 + static_cast<unsigned>(*p - '0');
  if (p == fields[2] || *p != ':' || value != uid) return false;
  const char* end = strchr(fields[field], ':');
  size_t length = end != nullptr ? static_cast<size_t>(end - fields[field]) : strlen(fields[field]);
  if (length > size - 1) length = size - 1;
  memcpy(out, fields[field], length);
  out[length] = '\0';
  return true;
}

}  // namespace

// The first line of the password file with uid, read piece by piece without
// allocating; a line longer than the buffer is no account's and is skipped.
bool account_field(uid_t uid, int field, char* out, size_t size) {
  const int fd = open(kPasswdPath, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return false;
  char buffer[4096];
  size_t have = 0;
  bool found = false, rest_of_long_line = false;
  while (!found) {
    const ssize_t n = read(fd, buffer + have, sizeof buffer - have - 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      buffer[have] = '\0';  // a last line without a newline
      found = have > 0 && !rest_of_long_line && field_of(buffer, uid, field, out, size);
      break;
    }
    have += static_cast<size_t>(n);
    char* line = buffer;
    for (char* end;
         !found && (end = static_cast<char*>(
                        memchr(line, '\n', have - static_cast<size_t>(line - buffer)))) != nullptr;
         line = end + 1) {
      *end = '\0';
      found = !rest_of_long_line && field_of(line, uid, field, out, size);
      rest_of_long_line = false;
    }
    have -= static_cast<size_t>(line - buffer);
    memmove(buffer, line, have);
    if (have == sizeof buffer - 1) {
      have = 0;
      rest_of_long_line = true;
    }
  }
  close(fd);
  return found;
}

#include "files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "policy.h"

std::string policy_unread(const std::string& path, bool trusted_only) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::string("cannot be opened: ") + strerror(errno);
  struct stat st {};
  const int status = fstat(fd, &st);
  close(fd);
  if (status != 0) return std::string("cannot be read: ") + strerror(errno);
  if (const char* why = trusted_only ? policy_distrust(st) : nullptr)
    return std::string(why) + ": not used";
  return S_ISDIR(st.st_mode) ? "is a directory" : "";
}

std::string ReadFailure::message() const {
  if (error == 0) return std::string();
  return std::string(in_opening ? "cannot be opened: " : "cannot be read: ") + strerror(error);
}

ReadFailure read_whole(const std::string& path, std::string* text) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return {errno, true};
  const ReadFailure failure = text != nullptr ? read_whole(f, text) : ReadFailure();
  (void)fclose(f);
  return failure;
}

ReadFailure read_whole(FILE* stream, std::string* text) {
  char buffer[65536];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, stream)) > 0;) text->append(buffer, n);
  return {ferror(stream) ? errno : 0, false};
}

std::string read_file(const std::string& path, std::string* text) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "is a directory";
  return read_whole(path, text).message();
}

bool exists(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0;
}

std::string parent_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

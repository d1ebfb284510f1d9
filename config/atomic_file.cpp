// Replacing a file whole; see atomic_file.h.
#include "atomic_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <string>
#include <utility>

namespace corvexin_config {

namespace {

// The text written over the file at path after emptying it, as fopen's "w"
// does: a write that fails half-way leaves the file short.
int write_in_place(const char* path, const std::function<int(FILE*)>& write) {
  FILE* file = std::fopen(path, "we");
  if (file == nullptr) return -1;
  int result = write(file);
  if (std::fclose(file) != 0) result = -1;
  return result;
}

// Follows path while it names a symbolic link, so that dump replaces the file
// at the end of the chain and every link stays. A relative link counts from
// the directory that holds it. A name that does not exist ends the chain: the
// new file goes there. False on a loop or a link that cannot be read.
bool follow_links(std::string& path) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
    char link[PATH_MAX];
    const ssize_t length = ::readlink(path.c_str(), link, sizeof link);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof link) return false;
    const std::string to(link, static_cast<size_t>(length));
    path = to[0] == '/' ? to : path.substr(0, path.rfind('/') + 1) + to;  // npos + 1 is 0
  }
  errno = ELOOP;
  return false;
}

// Creates a file in the directory dir under a new name that nobody can guess
// (a dot, up to 64 bytes of base, a dot and 12 random letters), only when
// that name is free. Its descriptor, or -1 with errno set.
int create_beside(int dir, const std::string& base, mode_t mode, std::string& name) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    unsigned char random[12];
    if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return -1;
    std::string candidate = "." + base.substr(0, 64) + ".";
    for (const unsigned char r : random) candidate += kLetters[r % (sizeof kLetters - 1)];
    const int fd = ::openat(dir, candidate.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) name = std::move(candidate);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// The new file of a replacement: removed on every way out unless it has been
// renamed into place.
struct NewFile {
  int dir;
  std::string name;  // empty until created
  FILE* stream = nullptr;
  bool placed = false;
  ~NewFile() {
    if (stream != nullptr) std::fclose(stream);
    if (!name.empty() && !placed) ::unlinkat(dir, name.c_str(), 0);
  }
};

// What replace returns when the file can only be written in place.
constexpr int kWriteInPlace = 1;

// Replaces the regular file target (no link) whole: the text goes into a
// new file beside it that gets the old file's mode, owner and group and
// reaches the disk before it is renamed over target, so that a reader sees
// the old file or the new one and a failure leaves the old one. 0 or -1, or
// kWriteInPlace when no such file can be made: the directory cannot be
// opened or written, target is no regular file or not writable by the
// caller, or its owner or group can only be given by root.
int replace(const std::string& target, const std::function<int(FILE*)>& write) {
  const size_t slash = target.rfind('/');
  const std::string base = target.substr(slash + 1);  // npos + 1 is 0
  // The directory: "." for a bare name, "/" for a name right under the root.
  const std::string dir =
      slash == std::string::npos ? "." : target.substr(0, std::max<size_t>(slash, 1));
  const Descriptor directory{::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (directory.fd < 0 || base.empty()) return kWriteInPlace;
  struct stat old;
  const bool exists = ::fstatat(directory.fd, base.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return kWriteInPlace;
  if (exists &&
      (!S_ISREG(old.st_mode) || ::faccessat(directory.fd, base.c_str(), W_OK, AT_EACCESS) != 0)) {
    return kWriteInPlace;
  }

  // A new file gets the mode that fopen would give it (0666 under the umask).
  NewFile temp{directory.fd, {}};
  const int fd = create_beside(directory.fd, base, exists ? 0600 : 0666, temp.name);
  if (fd < 0) return errno == EACCES || errno == EPERM || errno == EROFS ? kWriteInPlace : -1;
  temp.stream = ::fdopen(fd, "w");
  if (temp.stream == nullptr) {
    ::close(fd);
    return -1;
  }
  if (exists) {
    struct stat now;
    if (::fstat(fd, &now) != 0) return -1;
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0) {
      return errno == EPERM ? kWriteInPlace : -1;
    }
    if (::fchmod(fd, old.st_mode & 07777) != 0) return -1;
  }
  if (write(temp.stream) != 0 || ::fsync(fd) != 0) return -1;
  if (std::fclose(std::exchange(temp.stream, nullptr)) != 0) return -1;
  // A file mounted over target (EBUSY) can only be written where it is.
  if (::renameat(directory.fd, temp.name.c_str(), directory.fd, base.c_str()) != 0) {
    return errno == EBUSY ? kWriteInPlace : -1;
  }
  temp.placed = true;
  // The rename reaches the disk with the directory. Some file systems cannot
  // sync a directory (EINVAL); there is nothing more to do on them.
  return ::fsync(directory.fd) == 0 || errno == EINVAL ? 0 : -1;
}

}  // namespace

int replace_file(const char* path, const std::function<int(FILE*)>& write) {
  if (path == nullptr || *path == '\0') return -1;
  std::string target = path;
  if (!follow_links(target)) return -1;
  const int result = replace(target, write);
  return result == kWriteInPlace ? write_in_place(path, write) : result;
}

}  // namespace corvexin_config

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
// does: a write that fails half-way leaves the file short. flags adds to the
// open's flags.
int write_in_place(const char* path, int flags, const std::function<int(FILE*)>& write) {
  const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | flags, 0666);
  if (fd < 0) return -1;
  FILE* file = ::fdopen(fd, "w");
  if (file == nullptr) {
    ::close(fd);
    return -1;
  }
  int result = write(file);
  if (std::fclose(file) != 0) result = -1;
  return result;
}

// The directory that holds the last name of path ("." for a bare name, "/"
// for a name right under the root), and that name.
void split(const std::string& path, std::string& dir, std::string& base) {
  const size_t slash = path.rfind('/');
  base = path.substr(slash + 1);  // npos + 1 is 0
  dir = slash == std::string::npos ? "." : path.substr(0, std::max<size_t>(slash, 1));
}

// A directory where anyone may put a name and no one may remove another's,
// as /tmp: sticky and writable by others.
bool shared_directory(const struct stat& dir) {
  return (dir.st_mode & (S_ISVTX | S_IWOTH)) == (S_ISVTX | S_IWOTH);
}

// Follows path while it names a symbolic link, so that dump replaces the file
// at the end of the chain and every link stays. A relative link counts from
// the directory that holds it. A name that does not exist ends the chain: the
// new file goes there. A link in a shared directory is followed only when it
// belongs to the caller's effective user or to the directory's owner: the
// kernel's rule for such links (fs.protected_symlinks), kept here whether the
// kernel applies it or not, as this walk is made outside the kernel. shared
// tells whether the name at the end lies in a shared directory. False on a
// loop, a link that cannot be read, or one that is not followed (EACCES).
bool follow_links(std::string& path, bool& shared) {
  for (int hops = 0; hops < 40; ++hops) {
    std::string dir, base;
    split(path, dir, base);
    shared = false;
    const Descriptor directory{::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
    if (directory.fd < 0) return true;  // no name there to follow
    struct stat held;
    if (::fstat(directory.fd, &held) != 0) return false;
    shared = shared_directory(held);
    // The link itself is opened, so that the owner checked and the text read
    // are one link's, even when the name is given to another meanwhile.
    const Descriptor name{::openat(directory.fd, base.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC)};
    struct stat link;
    if (name.fd < 0 || ::fstat(name.fd, &link) != 0 || !S_ISLNK(link.st_mode)) return true;
    if (shared && link.st_uid != ::geteuid() && link.st_uid != held.st_uid) {
      errno = EACCES;
      return false;
    }
    char to[PATH_MAX];
    const ssize_t length = ::readlinkat(name.fd, "", to, sizeof to);
    if (length <= 0 || static_cast<size_t>(length) >= sizeof to) return false;
    const std::string text(to, static_cast<size_t>(length));
    path = text[0] == '/' ? text : path.substr(0, path.rfind('/') + 1) + text;  // npos + 1 is 0
  }
  errno = ELOOP;
  return false;
}

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
  std::string dir, base;
  split(target, dir, base);
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

std::string name_beside(const std::string& base) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[12];
  if (::getrandom(random, sizeof random, 0) != static_cast<ssize_t>(sizeof random)) return "";
  std::string name = "." + base.substr(0, 64) + ".";
  for (const unsigned char r : random) name += kLetters[r % (sizeof kLetters - 1)];
  return name;
}

int create_beside(int dir, const std::string& base, mode_t mode, std::string& name) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = name_beside(base);
    if (candidate.empty()) return -1;
    const int fd = ::openat(dir, candidate.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd >= 0) name = candidate;
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

NewFile::~NewFile() {
  if (stream != nullptr) (void)std::fclose(stream);
  if (!name.empty() && !placed) ::unlinkat(dir, name.c_str(), 0);
}

int replace_file(const char* path, const std::function<int(FILE*)>& write) {
  if (path == nullptr || *path == '\0') return -1;
  std::string target = path;
  bool shared = false;
  if (!follow_links(target, shared)) return -1;
  const int result = replace(target, write);
  if (result != kWriteInPlace) return result;
  // In a shared directory anyone may have put a link under the name since it
  // was looked at: the name itself is written there, never through a link.
  return shared ? write_in_place(target.c_str(), O_NOFOLLOW, write)
                : write_in_place(path, 0, write);
}

}  // namespace corvexin_config

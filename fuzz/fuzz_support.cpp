#include "fuzz_support.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "vocabulary.h"

namespace {

[[noreturn]] void die(const char* what) {
  perror(what);
  abort();
}

std::string scratch_path() {
  char dir[] = "/tmp/corvexin-fuzz-XXXXXX";
  if (mkdtemp(dir) == nullptr) die("mkdtemp");
  static std::string removed_at_exit;
  removed_at_exit = dir;
  atexit([] {
    unlink((removed_at_exit + "/input").c_str());
    rmdir(removed_at_exit.c_str());
  });
  return removed_at_exit + "/input";
}

}  // namespace

const char* input_file(std::string_view bytes) {
  static const std::string path = scratch_path();
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) die(path.c_str());
  for (size_t done = 0; done < bytes.size();) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) die("write");
    done += static_cast<size_t>(n);
  }
  close(fd);
  return path.c_str();
}

std::vector<std::string_view> split_input(const uint8_t* data, size_t size, size_t parts) {
  std::string_view rest(reinterpret_cast<const char*>(data), size);
  std::vector<std::string_view> found;
  while (found.size() + 1 < parts) {
    const size_t nul = rest.find('\0');
    if (nul == std::string_view::npos) break;
    found.push_back(rest.substr(0, nul));
    rest.remove_prefix(nul + 1);
  }
  found.push_back(rest);
  return found;
}

void keep_log_private() {
  if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) die("unshare");
  if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    die("mount --make-rprivate /");
  if (mount("corvexin-fuzz", "/var", "tmpfs", MS_NOSUID | MS_NODEV, "size=64m") != 0)
    die("mount tmpfs /var");
  // Without a mapped identity (an unprivileged user namespace) nothing can be
  // created here; the log then cannot be opened, which the gate tolerates.
  mkdir("/var/varn", 0755);
  mkdir("/var/varn/log", 0755);
}

void reset_private_log() {
  unlink(kLogPath);
}

#include "private_root.h"

#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string scratch;
dev_t etc_device = 0, var_device = 0;  // of the overlays, once mounted
std::vector<std::string> mounted;      // our overlays, in our namespace only

[[noreturn]] void fail(const std::string& what) {
  throw std::runtime_error("private root: " + what + ": " + strerror(errno));
}

dev_t device(const char* path) {
  struct stat s {};
  return stat(path, &s) == 0 ? s.st_dev : 0;
}

// Every write goes through here: /etc and /var must still be our overlays.
void require_private_root() {
  if (etc_device == 0 || device("/etc") != etc_device || device("/var") != var_device) {
    throw std::runtime_error("private root: not inside it, refusing to touch the host's files");
  }
}

void overlay(const std::string& target) {
  const std::string upper = scratch + target, work = scratch + "/.work" + target;
  fs::create_directories(upper);
  fs::create_directories(work);
  const std::string options = "lowerdir=" + target + ",upperdir=" + upper + ",workdir=" + work;
  if (mount("private-root", target.c_str(), "overlay", 0, options.c_str()) != 0) {
    fail("mount overlay on " + target);
  }
  mounted.push_back(target);
}

void leave() {
  for (const auto& target : mounted) umount2(target.c_str(), MNT_DETACH);
  mounted.clear();
  std::error_code ec;
  fs::remove_all(scratch, ec);
}

}  // namespace

void enter_private_root() {
  static bool entered = false;
  if (entered) return;
  char tmpl[] = "/tmp/gate-private-root-XXXXXX";
  if (mkdtemp(tmpl) == nullptr) fail("mkdtemp");
  scratch = tmpl;
  try {
    if (unshare(CLONE_NEWNS) != 0) fail("unshare");
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) fail("make / private");
    const dev_t host_etc = device("/etc"), host_var = device("/var");
    overlay("/etc");
    overlay("/var");
    etc_device = device("/etc");
    var_device = device("/var");
    if (etc_device == host_etc || var_device == host_var) fail("/etc or /var is not the overlay");
  } catch (...) {
    leave();
    throw;
  }
  entered = true;
  atexit(leave);
  // Hide the gate's own files of the host.
  for (const char* path : {"/etc/cmd_check.json", "/etc/kelvo", "/var/varn"}) remove_path(path);
}

void put_file(const std::string& path, const std::string& content) {
  require_private_root();
  const fs::path p(path);
  fs::create_directories(p.parent_path());
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out.flush()) throw std::runtime_error("cannot write " + path);
}

void remove_path(const std::string& path) {
  require_private_root();
  fs::remove_all(path);
}

void make_directories(const std::string& path) {
  require_private_root();
  fs::create_directories(path);
}

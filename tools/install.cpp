#include "install.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <utility>

#include "atomic_file.h"
#include "check.h"
#include "diff.h"
#include "files.h"
#include "report.h"
#include "vocabulary.h"

namespace {

using corvexin_config::Descriptor;
using corvexin_config::NewFile;

// The policy's directory, its name there and the previous policy's.
const std::string kPolicyDir(kPolicyPath, std::string(kPolicyPath).rfind('/'));
const std::string kPolicyName = std::string(kPolicyPath).substr(kPolicyDir.size() + 1);
const std::string kOldName = std::string(kOldPolicyPath).substr(kPolicyDir.size() + 1);

int fail(const std::string& what) {
  fprintf(stderr, "corvexin_policy: %s\n", what.c_str());
  return 2;
}

int fail_errno(const std::string& what) {
  return fail(what + ": " + strerror(errno));
}

// Takes the lock that installs and edits take in turn: flock on a file of
// its own, which stays (the policy itself is replaced, so a lock on it would
// be on the old file). Held until lock closes, also when the tool dies.
// 0 when taken; else 2, and why not on stderr. The policy is root's, and so
// is the lock.
int take_lock(Descriptor& lock) {
  if (geteuid() != 0) return fail("installing a policy needs root: the gate uses only root's");
  lock.fd = open(kPolicyLockPath, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0600);
  if (lock.fd < 0) return fail_errno(std::string(kPolicyLockPath) + " cannot be opened");
  if (flock(lock.fd, LOCK_EX | LOCK_NB) == 0) return 0;
  if (errno == EWOULDBLOCK) {
    return fail(std::string("another install or edit of ") + kPolicyPath +
                " is under way (it holds " + kPolicyLockPath + "); try again when it has ended");
  }
  return fail_errno(std::string(kPolicyLockPath) + " cannot be locked");
}

// Checks text as the installed policy and puts it in place. The caller holds
// the lock. shown_as names the policy in the report.
int place(const std::string& shown_as, const std::string& text, bool accept_warnings) {
  const Descriptor dir{open(kPolicyDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
  if (dir.fd < 0) return fail_errno(kPolicyDir + " cannot be opened");
  struct stat installed {};
  const bool exists = fstatat(dir.fd, kPolicyName.c_str(), &installed, AT_SYMLINK_NOFOLLOW) == 0;
  if (!exists && errno != ENOENT) return fail_errno(std::string(kPolicyPath) + " cannot be read");
  if (exists && !S_ISREG(installed.st_mode)) {
    return fail(std::string(kPolicyPath) +
                " is not a regular file (a link?): install replaces only a regular file");
  }

  // The copy: root's from its creation, written whole and on the disk before
  // it gets its mode, 0644 or the installed policy's stricter one, and the
  // installed policy's group (which the mode never lets write).
  NewFile copy{dir.fd, {}};
  const int fd = corvexin_config::create_beside(dir.fd, kPolicyName, 0600, copy.name);
  copy.stream = fd < 0 ? nullptr : fdopen(fd, "w");
  if (copy.stream == nullptr) {
    if (fd >= 0) close(fd);
    return fail_errno("no new file can be made in " + kPolicyDir);
  }
  const mode_t mode = exists ? (installed.st_mode & 0644) : 0644;
  const bool written =
      fwrite(text.data(), 1, text.size(), copy.stream) == text.size() && fflush(copy.stream) == 0 &&
      fchown(fd, 0, exists ? installed.st_gid : 0) == 0 && fchmod(fd, mode) == 0 && fsync(fd) == 0;
  if (fclose(std::exchange(copy.stream, nullptr)) != 0 || !written) {
    return fail_errno("the new policy cannot be written in " + kPolicyDir);
  }
  const std::string copy_path = kPolicyDir + "/" + copy.name;

  // The copy is what is checked and compared: what is renamed into place.
  const Report report = check_policy_file(copy_path, true, shown_as);
  report.print_text();
  if (exists) {
    std::cout << "What it admits that " << kPolicyPath << " does not, and what it no longer "
              << "admits:\n";
    std::cout.flush();
    policy_diff(kPolicyPath, copy_path, false);
  } else {
    std::cout << kPolicyPath << " is not installed: all that the new policy admits is new.\n";
  }
  std::cout.flush();
  const int status = report.status();
  if (status == 2) return fail(shown_as + " not installed: it has errors");
  if (status == 1 && !accept_warnings) {
    fail(shown_as +
         " not installed: it has warnings; give --accept-warnings to install it with them");
    return 1;
  }

  // The previous policy stays whole as the old one: a second name for it,
  // renamed over the old one's. Then the copy over the policy's name.
  if (exists) {
    std::string link_name;
    for (int attempt = 0; attempt < 100 && link_name.empty(); ++attempt) {
      const std::string name = corvexin_config::name_beside(kOldName);
      if (name.empty()) return fail_errno("no name can be made for the previous policy");
      if (linkat(dir.fd, kPolicyName.c_str(), dir.fd, name.c_str(), 0) == 0) {
        link_name = name;
      } else if (errno != EEXIST) {
        return fail_errno(std::string("the previous policy cannot be kept as ") + kOldPolicyPath);
      }
    }
    if (link_name.empty()) return fail("no name can be made for the previous policy");
    if (renameat(dir.fd, link_name.c_str(), dir.fd, kOldName.c_str()) != 0) {
      const int saved = errno;
      unlinkat(dir.fd, link_name.c_str(), 0);
      errno = saved;
      return fail_errno(std::string("the previous policy cannot be kept as ") + kOldPolicyPath);
    }
  }
  if (renameat(dir.fd, copy.name.c_str(), dir.fd, kPolicyName.c_str()) != 0) {
    return fail_errno(std::string("the new policy cannot be renamed to ") + kPolicyPath);
  }
  copy.placed = true;
  if (fsync(dir.fd) != 0 && errno != EINVAL) return fail_errno(kPolicyDir + " cannot be synced");
  std::cout << "installed " << shown_as << " as " << kPolicyPath;
  if (exists) std::cout << "; the previous policy is " << kOldPolicyPath;
  std::cout << "\n";
  return 0;
}

// The administrator's editor, as a shell command that takes the file as $1.
std::string editor() {
  for (const char* name : {"VISUAL", "EDITOR"}) {
    const char* value = getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return access("/usr/bin/editor", X_OK) == 0 ? "editor" : "vi";
}

// Runs the editor on path and waits for it; its exit status, or -1.
int run_editor(const std::string& path) {
  struct sigaction ignore {
  }, old_int{}, old_quit{};
  ignore.sa_handler = SIG_IGN;
  sigaction(SIGINT, &ignore, &old_int);
  sigaction(SIGQUIT, &ignore, &old_quit);
  const std::string command = editor() + " \"$1\"";
  const pid_t pid = fork();
  if (pid == 0) {
    sigaction(SIGINT, &old_int, nullptr);
    sigaction(SIGQUIT, &old_quit, nullptr);
    execl("/bin/sh", "sh", "-c", command.c_str(), "sh", path.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = -1;
  while (pid > 0 && waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  sigaction(SIGINT, &old_int, nullptr);
  sigaction(SIGQUIT, &old_quit, nullptr);
  if (pid < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int install_command(const std::string& path, bool accept_warnings) {
  Descriptor lock{-1};
  if (take_lock(lock) != 0) return 2;
  std::string text;
  const std::string problem = read_file(path, &text);
  if (!problem.empty()) return fail(path + " " + problem + "; nothing installed");
  return place(path, text, accept_warnings);
}

int edit_command(bool accept_warnings) {
  Descriptor lock{-1};
  if (take_lock(lock) != 0) return 2;
  std::string text;
  if (access(kPolicyPath, F_OK) == 0) {
    const std::string problem = read_file(kPolicyPath, &text);
    if (!problem.empty()) return fail(std::string(kPolicyPath) + " " + problem);
  }
  // The copy in a directory of its own that only root may enter.
  char dir[] = "/tmp/corvexin_policy.XXXXXX";
  if (mkdtemp(dir) == nullptr) return fail_errno("no directory for the copy can be made in /tmp");
  const std::string copy = std::string(dir) + "/" + kPolicyName;
  auto discard = [&] {
    unlink(copy.c_str());
    rmdir(dir);
  };
  {
    const Descriptor fd{
        open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)};
    if (fd.fd < 0 || write(fd.fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
      const int result = fail_errno("the copy cannot be written to " + copy);
      discard();
      return result;
    }
  }
  const int edited_status = run_editor(copy);
  std::string edited;
  const std::string problem = read_file(copy, &edited);
  if (edited_status != 0 || !problem.empty()) {
    return fail("the editor (" + editor() + ") failed" +
                (problem.empty() ? "" : ", and " + copy + " " + problem) +
                "; nothing installed; the copy is kept in " + copy);
  }
  if (edited == text) {
    discard();
    std::cout << "no change; nothing installed\n";
    return 0;
  }
  const int status = place(copy, edited, accept_warnings);
  if (status == 0) {
    discard();
  } else {
    fprintf(stderr,
            "corvexin_policy: the edit is kept in %s; edit it there and install it with "
            "\"corvexin_policy install %s\"\n",
            copy.c_str(), copy.c_str());
  }
  return status;
}

#include "trust.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "config_file.h"
#include "files.h"
#include "machine.h"
#include "policy.h"
#include "role_lookup.h"
#include "vocabulary.h"

namespace {

class TrustChecker {
 public:
  explicit TrustChecker(Report& report) : r_(report) {}

  // The file itself (unless the caller judges it by a rule of its own), then
  // every directory above it, along the path as given and along the path
  // with its links resolved.
  void path_and_parents(const std::string& path, const std::string& role, bool file = true) {
    if (file) entry(path, role);
    parents(path, path);
    char resolved[PATH_MAX];
    if (realpath(path.c_str(), resolved) != nullptr && path != resolved) {
      if (file) entry(resolved, role);
      parents(resolved, path);
    }
  }

  // A file or directory whose owner is not root, or that group or others may
  // write, lets someone other than root decide what the gate does.
  void entry(const std::string& path, const std::string& role) {
    if (!checked_.insert(path).second) return;
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return;
    const std::string who = writers_other_than_root(st);
    if (!who.empty()) r_.add_file("unsafe-file", path, "can be changed by " + who + ": " + role);
  }

 private:
  void parents(const std::string& path, const std::string& of) {
    for (std::string dir = path; dir != "/";) {
      dir = parent_of(dir);
      entry(dir, "whoever may write it can replace " + of + ", which the gate trusts with root");
    }
  }

  Report& r_;
  std::set<std::string> checked_;
};

// The gate as installed beside this program; empty when this program's
// place is unknown.
std::string installed_gate() {
  char self[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return std::string();
  std::string gate(self, static_cast<size_t>(n));
  return gate.substr(0, gate.find_last_of('/') + 1) + "corvexin_check";
}

// The gate as installed beside this program: executable by every local
// account, it lets each of them run as root what the policy allows.
void check_gate_mode(Report& report) {
  const std::string gate = installed_gate();
  struct stat st {};
  if (gate.empty() || stat(gate.c_str(), &st) != 0) return;
  if ((st.st_mode & S_ISUID) && (st.st_mode & S_IXOTH)) {
    report.add_file("gate-mode", gate,
                    "is set-uid and executable by others: every local account can run as root "
                    "every command that the policy allows; install it mode 4750 with the "
                    "group " CORVEXIN_GATE_GROUP
                    " and put only the web server's account in that group");
  }
}

}  // namespace

std::string service_user_weakness(uid_t user) {
  if (user == 0) return std::string();
  const passwd* account = getpwuid(user);
  const std::string who = "uid " + std::to_string(user) +
                          (account != nullptr ? " (" + std::string(account->pw_name) + ")" : "");
  const std::string outcome =
      ": role checks do not hold against that account, which may answer every lookup while "
      "the role service is down";
  if (user == 65534 || (account != nullptr && strcmp(account->pw_name, "nobody") == 0))
    return who + " is an account that many services share" + outcome;
  // Who may start the gate: the installed one's group as the machine has it
  // (everyone, where others may execute it), else the configured group.
  const std::string gate = installed_gate();
  struct stat st {};
  const group* starters = nullptr;
  if (!gate.empty() && stat(gate.c_str(), &st) == 0) {
    if (st.st_mode & S_IXOTH) return who + " can start the gate, as every account can" + outcome;
    if (st.st_mode & S_IXGRP) starters = getgrgid(st.st_gid);
  } else {
    starters = getgrnam(CORVEXIN_GATE_GROUP);
  }
  if (starters == nullptr) return std::string();
  bool member = account != nullptr && account->pw_gid == starters->gr_gid;
  for (char** m = starters->gr_mem; !member && account != nullptr && *m != nullptr; ++m)
    member = strcmp(*m, account->pw_name) == 0;
  if (!member) return std::string();
  return who + " can start the gate (a member of its group " + starters->gr_name + ")" + outcome;
}

void check_trusted_files(Report& report, bool role_checked, const std::string& policy,
                         const std::string& shown_as) {
  TrustChecker trust(report);
  // The policy itself by the gate's own rule: a policy that fails it is not used.
  struct stat st {};
  if (const char* why = stat(policy.c_str(), &st) == 0 ? policy_distrust(st) : nullptr) {
    report.add_file("untrusted-policy", shown_as,
                    std::string(why) + (shown_as == kPolicyPath
                                            ? ": the gate does not use it and refuses every command"
                                            : std::string(": installed as ") + kPolicyPath +
                                                  ", the gate would not use it and would refuse "
                                                  "every command"));
  }
  trust.path_and_parents(kPolicyPath, "its writer decides which commands run as root", false);

  const char* problem = "is missing";
  if (exists(kSettingsPath)) {
    trust.path_and_parents(kSettingsPath,
                           "its writer chooses the service whose answers grant role rights");
    ConfigFile settings(kSettingsPath);
    problem = role_settings_problem(settings.getparam(kSettingsSection, kProtocolKey),
                                    settings.getparam(kSettingsSection, kPortKey));
  }
  if (role_checked && problem != nullptr) {
    report.add_file("no-settings", kSettingsPath,
                    std::string(problem) +
                        ": the gate makes no role lookup, and every role-checked entry refuses");
  }
  check_gate_mode(report);
  // The gate logs only into a directory that root alone may change, reached
  // without a link; whoever may change one above it can swap it.
  trust.path_and_parents(kLogPath, "its writer can stop the gate's log or redirect it", false);

  // A library placed in the gate's library directory is loaded into a
  // set-uid root program: the directory, what is in it and every directory
  // above it must be root's alone.
  if (!exists(kLibraryDir)) return;
  const std::string why = "a library placed there is loaded into the set-uid root gate";
  trust.path_and_parents(kLibraryDir, why);
  namespace fs = std::filesystem;
  std::error_code error;  // a directory that cannot be read further lists no more
  for (fs::directory_iterator e(kLibraryDir, error); !error && e != fs::directory_iterator();
       e.increment(error))
    trust.entry(e->path().string(), why);
}

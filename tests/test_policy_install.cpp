// "corvexin_policy install", "edit" and "check --as-installed", at the real
// /etc/cmd_check.json of a private mount namespace: a policy goes in whole,
// root's, with the previous one kept, or not at all; the real gate then
// decides by it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "gate_runner.h"
#include "policy_json.h"

namespace {

const std::string kOld =
    policy_text(section(1, R"([{"pattern": "^hostname$", "is_cookie_check": 0}])"));
const std::string kNew =
    policy_text(section(1, R"([{"pattern": "^uptime$", "is_cookie_check": 0}])"));
const std::string kWarned =
    policy_text(section(1, R"([{"pattern": "^uptime", "is_cookie_check": 0}])"));

struct InstallCase {
  const char* name;
  std::vector<std::string> args;  // after the program; /etc/new.json holds `policy`
  std::string policy;
  mode_t installed_mode;  // of kOld installed before; 0: none installed
  int status;
  const char* installed;  // what /etc/cmd_check.json holds afterwards
  mode_t mode;            // and its mode
  std::vector<std::string> env = {};
};

class Install : public ::testing::TestWithParam<InstallCase> {};

TEST_P(Install, WholeOrNotAtAll) {
  const InstallCase& c = GetParam();
  Sandbox box;
  box.make_log_dir();
  box.write("/etc/new.json", c.policy);
  const std::string etc = box.dir() + "/etc";
  if (c.installed_mode != 0) {
    box.policy(kOld);
    chmod((etc + "/cmd_check.json").c_str(), c.installed_mode);
  }
  std::vector<std::string> argv = {policy_binary()};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  const RunResult r = box.run(argv, "", c.env);
  // An edit that was not installed is kept in a directory of its own in /tmp.
  const size_t kept = r.err.find("kept in /tmp/corvexin_policy.");
  if (kept != std::string::npos) {
    const std::string copy = r.err.substr(kept + 8, r.err.find(';', kept) - kept - 8);
    EXPECT_EQ(read_file(copy), "{") << copy;
    std::filesystem::remove_all(std::filesystem::path(copy).parent_path());
  }
  EXPECT_EQ(r.status, c.status) << r.out << r.err;

  const std::string installed = etc + "/cmd_check.json";
  EXPECT_EQ(read_file(installed), c.installed) << r.out << r.err;
  struct stat st {};
  if (c.installed == std::string()) return;
  ASSERT_EQ(stat(installed.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, 0u);
  EXPECT_EQ(st.st_mode & 07777, c.mode);
  const bool replaced = c.installed != kOld && c.installed_mode != 0;
  EXPECT_EQ(read_file(etc + "/cmd_check.json.old"), replaced ? kOld : "");
  for (const auto& e : std::filesystem::directory_iterator(etc))
    EXPECT_NE(e.path().filename().string().rfind(".cmd_check.json", 0), 0u) << e.path();
  // The gate decides by what is installed.
  EXPECT_EQ(box.gate({"uptime"}).status == 0, c.installed != kOld) << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Install,
    ::testing::Values(
        InstallCase{"First", {"install", "/etc/new.json"}, kNew, 0, 0, kNew.c_str(), 0644},
        InstallCase{
            "KeepsStricterMode", {"install", "/etc/new.json"}, kNew, 0640, 0, kNew.c_str(), 0640},
        InstallCase{
            "TightensMode", {"install", "/etc/new.json"}, kNew, 0664, 0, kNew.c_str(), 0644},
        InstallCase{
            "BrokenRefused", {"install", "/etc/new.json"}, "{", 0644, 2, kOld.c_str(), 0644},
        InstallCase{
            "WarningsRefused", {"install", "/etc/new.json"}, kWarned, 0644, 1, kOld.c_str(), 0644},
        InstallCase{"WarningsAccepted",
                    {"install", "--accept-warnings", "/etc/new.json"},
                    kWarned,
                    0644,
                    0,
                    kWarned.c_str(),
                    0644},
        InstallCase{"MissingFile", {"install", "/etc/none.json"}, "", 0644, 2, kOld.c_str(), 0644},
        InstallCase{"Edit",
                    {"edit"},
                    "",
                    0644,
                    0,
                    kNew.c_str(),
                    0644,
                    {"VISUAL=sed -i s/hostname/uptime/"}},
        InstallCase{"EditUnchanged", {"edit"}, "", 0600, 0, kOld.c_str(), 0600, {"VISUAL=true"}},
        InstallCase{"EditBrokenKept",
                    {"edit"},
                    "",
                    0644,
                    2,
                    kOld.c_str(),
                    0644,
                    {"VISUAL=", "EDITOR=truncate -s 1"}}),
    [](const ::testing::TestParamInfo<InstallCase>& p) { return p.param.name; });

// Two installs never interleave: one that finds the lock taken changes nothing.
TEST(Install, LockTakenChangesNothing) {
  Sandbox box;
  box.policy(kOld);
  box.write("/etc/new.json", kNew);
  const RunResult r = box.run(
      {"/usr/bin/flock", "/etc/cmd_check.json.lock", policy_binary(), "install", "/etc/new.json"});
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_NE(r.err.find("is under way"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(box.dir() + "/etc/cmd_check.json"), kOld);
}

// check --as-installed: the file's own owner and mode as the installed
// policy's; the exit status is install's verdict.
TEST(Install, CheckAsInstalled) {
  const struct {
    std::string policy;
    mode_t mode;
    uid_t owner;
    bool accept_warnings;
    int status;
  } cases[] = {
      {kNew, 0644, 0, false, 0},    {kNew, 0666, 0, false, 2},   {kNew, 0644, 1000, false, 2},
      {kWarned, 0644, 0, false, 1}, {kWarned, 0644, 0, true, 0}, {"{", 0644, 0, true, 2},
  };
  for (const auto& c : cases) {
    Sandbox box;
    box.write("/etc/new.json", c.policy);
    const std::string file = box.dir() + "/etc/new.json";
    chmod(file.c_str(), c.mode);
    ASSERT_EQ(chown(file.c_str(), c.owner, 0), 0);
    std::vector<std::string> argv = {policy_binary(), "check", "--as-installed", "/etc/new.json"};
    if (c.accept_warnings) argv.insert(argv.begin() + 2, "--accept-warnings");
    const RunResult r = box.run(argv);
    EXPECT_EQ(r.status, c.status) << c.mode << " " << c.owner << "\n" << r.out;
    EXPECT_EQ(r.out.find("[untrusted-policy]") != std::string::npos, c.mode == 0666 || c.owner != 0)
        << r.out;
  }
  Sandbox box;
  EXPECT_EQ(box.run({policy_binary(), "check", "--as-installed", "a", "b"}).status, 2);
  EXPECT_EQ(box.run({policy_binary(), "install"}).status, 2);
}

}  // namespace

// The gate installed set-uid root and started by an unprivileged user: it
// runs what the policy allows as root, and the caller's environment cannot
// change what runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "gate_runner.h"

namespace fs = std::filesystem;

namespace {

// A set-uid root copy of the gate in a directory that everybody can reach.
class SetuidGate : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/gate-suid-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    ASSERT_EQ(chmod(dir_.c_str(), 0755), 0);
    gate_ = dir_ + "/corvexin_check";
    fs::copy_file(gate_binary(), gate_);
    ASSERT_EQ(chown(gate_.c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(gate_.c_str(), 04755), 0);
    box_.policy(R"({"scripts_section": {"check_method": 0}})");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the set-uid gate as uid/gid 65534 with extra environment entries.
  RunResult as_nobody(const std::string& command, const std::vector<std::string>& env = {}) {
    std::vector<std::string> argv = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                     "--clear-groups", "--", "/usr/bin/env"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.push_back(gate_);
    argv.push_back(command);
    return box_.run(argv);
  }

  std::string dir_, gate_;
  Sandbox box_;
};

TEST_F(SetuidGate, AllowedCommandRunsAsRootAndRefusedOneDoesNot) {
  RunResult r = as_nobody("id -u; id -g");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0\n0\n");
  box_.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
  RunResult refused = as_nobody("echo RAN");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "failed to pass the parameter check\n");
}

TEST_F(SetuidGate, CallersPathIsReplaced) {
  const std::string bin = dir_ + "/bin";
  fs::create_directories(bin);
  {
    FILE* f = fopen((bin + "/id").c_str(), "w");
    ASSERT_NE(f, nullptr);
    fputs("#!/bin/sh\necho FAKE\n", f);
    fclose(f);
    chmod((bin + "/id").c_str(), 0755);
  }
  RunResult r = as_nobody("id -u; echo \"$PATH\"", {"PATH=" + bin + ":/usr/bin:/bin"});
  EXPECT_EQ(r.out, "0\n/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\n");
}

TEST_F(SetuidGate, DangerousVariablesDoNotReachTheShell) {
  RunResult r = as_nobody(
      "echo \"[$PYTHONPATH][$LD_PRELOAD][$LD_LIBRARY_PATH][$BASH_ENV][$IFS_SET][$PERL5OPT][$KEEP][$GIT_CONFIG_COUNT]\"",
      {"PYTHONPATH=/tmp/evil", "LD_PRELOAD=/tmp/evil.so", "LD_LIBRARY_PATH=/tmp", "BASH_ENV=/tmp/evil",
       "PERL5OPT=-Mevil", "KEEP=kept", "GIT_CONFIG_COUNT=1"});
  EXPECT_EQ(r.out, "[][][][][][][kept][]\n");
  // A function exported for bash, and a variable that merely looks like one.
  RunResult f = as_nobody("bash -c 'id -u; echo \"[$LOOKS]\"'",
                          {"BASH_FUNC_id%%=() { echo FAKE; }", "LOOKS=() { echo FAKE; }"});
  EXPECT_EQ(f.out, "0\n[]\n");
}

TEST_F(SetuidGate, RootCallerKeepsItsEnvironment) {
  RunResult r = box_.gate({"echo \"[$PYTHONPATH][$PATH]\""}, {"PYTHONPATH=/opt/py", "PATH=/opt/bin:/usr/bin:/bin"});
  EXPECT_EQ(r.out, "[/opt/py][/opt/bin:/usr/bin:/bin]\n");
}

}  // namespace

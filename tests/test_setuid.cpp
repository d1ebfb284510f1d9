// The gate installed set-uid root and started by an unprivileged user: it
// runs what the policy allows as root, and the caller's environment cannot
// change what runs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"

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

// A policy whose only way to allow "echo ran" is a role check for level 2 in
// category 3, and a role service that answers for a user holding `granted`.
constexpr char kRoleChecked[] = R"([{"pattern": "^echo ran$", "role_right": {"3": 2}}])";
std::string account(int granted) {
  return R"({"user": "alice", "group_value": {"3": )" + std::to_string(granted) + "}}";
}

TEST_F(SetuidGate, KeyLogFileIsNotWritten) {
  RoleService service(RoleService::kHttps);
  service.reply(account(2));
  box_.settings(service.settings("https"));
  box_.policy(policy_text(section(1, kRoleChecked)));
  const std::string keys = dir_ + "/keys";
  RunResult r = as_nobody("echo ran", {"SSLKEYLOGFILE=" + keys});
  EXPECT_EQ(r.out, "ran\n") << r.err;
  EXPECT_EQ(service.requests().size(), 1u);
  EXPECT_FALSE(fs::exists(keys));
  // A root caller keeps its environment, and libcurl then does write the TLS
  // secrets there: the variable is effective, so the check above means something.
  r = box_.gate({"echo ran"}, {"SSLKEYLOGFILE=" + keys});
  EXPECT_EQ(r.out, "ran\n") << r.err;
  EXPECT_TRUE(fs::exists(keys));
}

TEST_F(SetuidGate, ProxyVariablesDoNotDivertTheLookup) {
  RoleService decoy;
  decoy.reply(R"({"user": "admin"})");
  const std::string proxy = "http://127.0.0.1:" + std::to_string(decoy.port());
  box_.policy(policy_text(section(1, kRoleChecked)));
  for (auto protocol : {RoleService::kHttp, RoleService::kHttps}) {
    RoleService service(protocol);
    service.reply(account(1));
    box_.settings(service.settings(protocol == RoleService::kHttps ? "https" : "http"));
    const RunResult r =
        as_nobody("echo ran", {"http_proxy=" + proxy, "HTTPS_PROXY=" + proxy, "https_proxy=" + proxy,
                               "ALL_PROXY=" + proxy, "all_proxy=" + proxy, "NO_PROXY=", "no_proxy="});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kRefusal);
    EXPECT_EQ(service.requests().size(), 1u);
  }
  EXPECT_TRUE(decoy.requests().empty());
}

// Files that only root may read: what the gate says to a caller that is not
// root holds nothing of them. jsoncpp's messages give line and column and
// quote only a number that cannot be converted; that number is left out.
TEST_F(SetuidGate, RootOnlyFilesDoNotLeakThroughMessages) {
  RoleService service;
  service.reply(account(2));
  struct Case {
    const char* what;
    std::string policy, settings;
  } cases[] = {
      {"syntax error after a secret", R"({"secret": "SECRET-7731", "scripts_section": {} oops})", ""},
      {"a number that cannot be converted", R"({"enable_log": 1, "pin": 77319e99999})", ""},
      {"a value of the wrong type", R"({"scripts_section": {"check_method": "SECRET-7731"}})", ""},
      {"comment left open", "/* SECRET-7731", ""},
      {"settings that make no sense", policy_text(section(1, kRoleChecked)),
       "[http]\nkelvo_web_protocol=SECRET-7731\nkelvo_web_server=7731x" + std::to_string(service.port()) +
           "/SECRET-7731\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    box_.policy(c.policy);
    box_.settings(c.settings);
    for (const char* path : {"/etc/cmd_check.json", "/etc/kelvo/halvora.ini"})
      ASSERT_EQ(chmod((box_.dir() + path).c_str(), 0600), 0);
    const RunResult r = as_nobody("echo ran");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("7731"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("7731"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(kRefusal), std::string::npos) << r.out;
  }
  // Root may read the policy anyway, and is shown the number.
  box_.policy(cases[1].policy);
  EXPECT_NE(box_.gate({"echo ran"}).out.find("'77319e99999' is not a number."), std::string::npos);
}

TEST_F(SetuidGate, RootCallerKeepsItsEnvironment) {
  RunResult r = box_.gate({"echo \"[$PYTHONPATH][$PATH]\""}, {"PYTHONPATH=/opt/py", "PATH=/opt/bin:/usr/bin:/bin"});
  EXPECT_EQ(r.out, "[/opt/py][/opt/bin:/usr/bin:/bin]\n");
}

}  // namespace

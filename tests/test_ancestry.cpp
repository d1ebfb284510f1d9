// The ancestor check with real processes. Most runs put the gate into a new
// pid namespace (unshare -p -f --mount-proc), where the shell that starts the
// chain is pid 1 and the pids below it are known, so the walk and its trace
// are exact.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

#include "ancestry.h"
#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"

extern char** environ;

namespace {

// A white list allowing, without a role check, command lines that match pattern.
std::string list_of(const std::string& pattern) {
  return R"([{"pattern": ")" + pattern + R"(", "is_cookie_check": 0}])";
}

// Runs script as pid 1 of a new pid namespace. The gate binary is in $G.
RunResult in_pid_namespace(const Sandbox& box, const std::string& script,
                           const std::vector<std::string>& env = {}) {
  std::vector<std::string> full_env = {std::string("G=") + gate_binary()};
  full_env.insert(full_env.end(), env.begin(), env.end());
  return box.run({"/usr/bin/unshare", "-p", "-f", "--mount-proc", "/bin/sh", "-c", script}, "",
                 full_env);
}

// pid 1 starts pid 2 ($0 = gp-marker), which starts pid 3 ($0 =
// parent-marker), which starts the gate (pid 4) on "echo ran". $RENAME runs
// in pid 3 first. No other process exists, so the pids are fixed.
RunResult chain(const Sandbox& box, const std::string& rename = "") {
  return in_pid_namespace(box, R"(sh -c "$L2" gp-marker; true)",
                          {R"(L2=sh -c "$L3" parent-marker; true)",
                           R"(L3=eval "$RENAME"; "$G" "echo ran"; true)", "RENAME=" + rename});
}

// Checks that stat, a stat record, holds name followed by the state and ppid.
void expect_stat_fields(const std::string& stat, const std::string& name, const std::string& ppid) {
  const size_t at = stat.find(name);
  ASSERT_NE(at, std::string::npos) << stat;
  EXPECT_EQ(stat.compare(at + name.size() + 1, ppid.size(), ppid), 0) << stat;
}

const char kParentLine[] = R"(sh -c eval "$RENAME"; "$G" "echo ran"; true parent-marker)";
const char kGrandparentLine[] = R"(sh -c sh -c "$L3" parent-marker; true gp-marker)";

TEST(Ancestry, MatchingParentAllowsAnyCommand) {
  Sandbox box;
  box.make_log_dir();
  box.policy(policy_text(section(3, list_of("parent-marker$"))));
  RunResult r = chain(box);
  EXPECT_EQ(r.out, "ran\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(box.log(), "");  // "proc_name match" is logged only with enable_log

  box.policy(policy_text(section(3, list_of("parent-marker$")), 1));
  r = chain(box);
  EXPECT_EQ(r.out, "ran\n");
  EXPECT_EQ(box.log(), "proc_name match\necho ran\npass the scripts check, run cmd now\n\n");
}

TEST(Ancestry, WalkOverTwoAncestorsAndItsTrace) {
  Sandbox box;
  box.make_log_dir();
  box.policy(policy_text(section(3, list_of("nothing")), 1));
  RunResult r = chain(box);
  EXPECT_EQ(r.status, 0);  // pid 3's shell goes on after the refusal
  EXPECT_EQ(r.out, std::string("ancestor check\n"
                               "pid = 4\n"
                               "ppid = 3\n"
                               "cmd[") +
                       kParentLine +
                       "] try to match pattern[nothing]\n"
                       "gp1 id=2\n"
                       "cmd[" +
                       kGrandparentLine +
                       "] try to match pattern[nothing]\n"
                       "gp2 id=1\n"
                       "black list check\n"
                       "failed to pass the parameter check\n");
  EXPECT_EQ(box.log(), "echo ran\ncheck failed, skip cmd\n\n");

  // The grandparent's command line allows the command.
  box.policy(policy_text(section(3, list_of("gp-marker$")), 1));
  r = chain(box);
  EXPECT_EQ(r.out, "ran\n");
  EXPECT_NE(box.log().find("proc_name match\necho ran\n"), std::string::npos) << box.log();
}

TEST(Ancestry, InitIsNeverExamined) {
  Sandbox box;
  box.policy(policy_text(section(3, list_of("init-marker")), 1));
  // The gate is pid 1's child; pid 1's command line would match.
  RunResult r = in_pid_namespace(box, R"("$G" "echo ran"; true init-marker)");
  EXPECT_EQ(r.out,
            "ancestor check\n"
            "pid = 2\n"
            "ppid = 1\n"
            "black list check\n"
            "failed to pass the parameter check\n");
}

TEST(Ancestry, NameWithBlanksAndParenthesesDoesNotStopTheWalk) {
  // pid 3 calls itself "p) q": counting blank-separated fields from the start
  // of its stat record finds "S" where the parent pid should be.
  Sandbox box;
  box.policy(policy_text(section(3, list_of("gp-marker$")), 1));
  RunResult r = chain(box, "printf 'p) q' >/proc/$$/comm; cat /proc/$$/stat >&2");
  expect_stat_fields(r.err, "(p) q) ", " 2 ");
  EXPECT_EQ(r.out, "ran\n");
}

TEST(Ancestry, RenamedParentCannotPointTheWalkAtADecoy) {
  // pid 2 is a decoy whose command line matches. pid 1 then starts the
  // gate's parent, which renames itself so that its stat record reads
  // "N (a) R 2 0 0) S 1 ...": the fourth blank-separated field names the
  // decoy, but its real parent is pid 1, where the walk has to end.
  Sandbox box;
  box.policy(policy_text(section(3, list_of("decoy-marker$")), 1));
  RunResult r = in_pid_namespace(
      box,
      R"(sh -c 'sleep 60; true' decoy-marker &
         D=$! sh -c "$R"
         kill $!
         sh -c '"$G" "echo control"; true' decoy-marker)",
      {R"(R=printf 'a) R %s 0 0' "$D" >/proc/$$/comm; cat /proc/$$/stat >&2; "$G" "echo ran"; true)"});
  expect_stat_fields(r.err, "(a) R 2 0 0) ", " 1 ");
  EXPECT_EQ(r.out.find("ran\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("gp1 id=1\nblack list check\nfailed to pass the parameter check\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("decoy-marker] try"), std::string::npos) << r.out;
  // A real child of such a command line is allowed.
  EXPECT_NE(r.out.find("control\n"), std::string::npos) << r.out;
}

TEST(Ancestry, RoleRefusalMovesTheWalkOnToTheNextAncestor) {
  // Parent and grandparent both match; each match asks the role service.
  RoleService service;
  Sandbox box;
  box.settings(service.settings("http"));
  box.policy(policy_text(section(3, R"([{"pattern": "marker$", "role_right": {"2": 3}}])")));
  service.reply(R"({"user": "bob", "group_value": {"2": 2}})");
  RunResult r = chain(box);
  EXPECT_EQ(r.out, kRefusal);
  EXPECT_EQ(service.requests().size(), 2u);

  service.reply(R"({"user": "bob", "group_value": {"2": 3}})");
  r = chain(box);
  EXPECT_EQ(r.out, "ran\n");
  EXPECT_EQ(service.requests().size(), 3u);  // one more: the parent passes
}

// get_proc_name in this process, on real children.
class ProcName : public ::testing::Test {
 protected:
  void TearDown() override {
    if (child_ > 0) {
      kill(-child_, SIGKILL);  // the shell and its sleep
      waitpid(child_, nullptr, 0);
    }
  }
  // Starts /bin/sh with args, waits until the shell runs (its script first
  // writes a line to standard output) and returns its command line as the
  // gate reads it.
  std::string read_of(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int ready[2];
    EXPECT_EQ(pipe(ready), 0);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ready[1], 1);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attr, 0);
    EXPECT_EQ(posix_spawn(&child_, "/bin/sh", &actions, &attr, argv.data(), environ), 0);
    posix_spawnattr_destroy(&attr);
    posix_spawn_file_actions_destroy(&actions);
    close(ready[1]);
    char c;
    EXPECT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    char buffer[1025];
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(get_proc_name(child_, buffer), 0);
    return buffer;
  }
  pid_t child_ = -1;
};

TEST_F(ProcName, ArgumentsJoinedByBlanks) {
  EXPECT_EQ(read_of({"sh", "-c", "echo; sleep 30; true", "a  b", "", "c"}),
            "sh -c echo; sleep 30; true a  b  c");
}

TEST_F(ProcName, CutAfter1024Bytes) {
  const std::string line = read_of({"sh", "-c", "echo; sleep 30; true", std::string(2000, 'z')});
  EXPECT_EQ(line.size(), 1024u);
  EXPECT_EQ(line, "sh -c echo; sleep 30; true " + std::string(1024 - 27, 'z'));
}

TEST(ProcNameMissing, ProcessThatDoesNotExist) {
  char buffer[1025];
  EXPECT_EQ(get_proc_name(0x3fffffff, buffer), -1);
}

}  // namespace

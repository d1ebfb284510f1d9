// Many gates at once: 200 runs of the real gate started together in one
// private root, so that they share one policy, one role service and ONE log.
// Half are allowed and half refused, half of each by a role check; tracing is
// on, so every run writes several lines. Every run must be decided as its
// command says, and every run's lines must be in the log, each line whole.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "gate_runner.h"
#include "policy_json.h"
#include "private_root.h"
#include "role_service.h"
#include "vocabulary.h"

namespace fs = std::filesystem;

namespace {

constexpr int kRuns = 200;
constexpr auto kDeadline = std::chrono::seconds(90);
constexpr char kReply[] = R"({"user": "alice", "group_value": {"3": 2}})";
constexpr char kScriptsPass[] = "pass the scripts check, run cmd now";
constexpr char kRefused[] = "check failed, skip cmd";

// The four kinds of run, one after the other: n % 4.
const char* const kKinds[] = {"allowed-plain", "allowed-role", "refused-role", "refused-plain"};
bool allowed(int n) {
  return n % 4 < 2;
}
bool role_checked(int n) {
  return n % 4 == 1 || n % 4 == 2;
}

// Long enough that a line written in pieces would show.
std::string command(int n) {
  return "echo " + std::string(kKinds[n % 4]) + " " + std::to_string(n) + " " +
         std::string(300, static_cast<char>('a' + n % 26));
}

// Starts one gate per command, all held at a barrier until every one has
// been forked, then released together. Standard output and error go to
// files in dir. Returns each run's exit status (-1: had to be killed).
std::vector<int> run_at_once(const std::vector<std::string>& commands, const std::string& dir) {
  int barrier[2];
  if (pipe(barrier) != 0) throw std::runtime_error("pipe failed");
  std::map<pid_t, size_t> running;
  for (size_t i = 0; i < commands.size(); ++i) {
    const std::string out = dir + "/out." + std::to_string(i),
                      err = dir + "/err." + std::to_string(i);
    const pid_t pid = fork();
    if (pid < 0) break;
    if (pid == 0) {
      close(barrier[1]);
      char byte;
      while (read(barrier[0], &byte, 1) < 0 && errno == EINTR) {
      }
      if (!freopen(out.c_str(), "w", stdout) || !freopen(err.c_str(), "w", stderr)) _exit(126);
      execl(gate_binary(), gate_binary(), commands[i].c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    running[pid] = i;
  }
  close(barrier[0]);
  close(barrier[1]);  // every child reads end-of-file now and starts
  std::vector<int> status(commands.size(), -1);
  const auto deadline = std::chrono::steady_clock::now() + kDeadline;
  while (!running.empty() && std::chrono::steady_clock::now() < deadline) {
    int wstatus = 0;
    const pid_t pid = waitpid(-1, &wstatus, WNOHANG);
    if (pid > 0 && running.count(pid) != 0) {
      status[running[pid]] = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
      running.erase(pid);
    } else if (pid <= 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  for (const auto& [pid, index] : running) {  // only past the deadline
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
  }
  return status;
}

TEST(Load, TwoHundredGatesShareOneLog) {
  enter_private_root();
  RoleService service;
  service.reply(kReply);
  put_file(kSettingsPath, service.settings("http"));
  make_directories("/var/varn/log");
  put_file(kPolicyPath, policy_text(section(1, R"([
      {"pattern": "^echo allowed-plain ", "is_cookie_check": 0},
      {"pattern": "^echo allowed-role ", "role_right": {"3": 2}},
      {"pattern": "^echo refused-role ", "role_right": {"3": 3}}])"),
                                    1));
  char tmpl[] = "/tmp/gate-load-XXXXXX";
  ASSERT_NE(mkdtemp(tmpl), nullptr);
  const std::string dir = tmpl;

  std::vector<std::string> commands;
  for (int n = 0; n < kRuns; ++n) commands.push_back(command(n));
  const std::vector<int> status = run_at_once(commands, dir);

  std::map<std::string, int> expected_lines;  // every line the log must hold, and how often
  for (int n = 0; n < kRuns; ++n) {
    SCOPED_TRACE(commands[n]);
    const std::string out = read_file(dir + "/out." + std::to_string(n));
    if (allowed(n)) {
      EXPECT_EQ(status[n], 0) << out;
      EXPECT_EQ(out, commands[n].substr(5) + "\n");
    } else {
      EXPECT_EQ(status[n], 1) << out;
      EXPECT_PRED_FORMAT2(testing::IsSubstring, kRefusal, out);
      EXPECT_EQ(out.find(commands[n].substr(5) + "\n"), std::string::npos) << "the command ran";
    }
    EXPECT_EQ(read_file(dir + "/err." + std::to_string(n)), "");
    ++expected_lines[commands[n]];
    ++expected_lines[allowed(n) ? kScriptsPass : kRefused];
    ++expected_lines[""];  // both messages end in a newline of their own
    if (role_checked(n)) ++expected_lines[kReply];
  }
  EXPECT_EQ(service.requests().size(), static_cast<size_t>(kRuns / 2));

  const std::string log = read_file(kLogPath);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back(), '\n');
  std::map<std::string, int> found;
  std::istringstream lines(log);
  size_t line_count = 0;
  for (std::string line; std::getline(lines, line); ++line_count) ++found[line];
  // Equal maps: every expected line as often as expected, and no torn or
  // foreign line.
  EXPECT_EQ(found, expected_lines);
  EXPECT_EQ(line_count, static_cast<size_t>(kRuns * 3 + kRuns / 2));
  fs::remove_all(dir);
}

}  // namespace

// The gate installed set-uid root and started by an unprivileged caller (the
// nobody account, and the web server's): it runs what the policy allows as
// root, and nothing the caller controls (environment, cookie channel,
// resource limits, timers, the log's place, a policy someone else can write)
// changes what runs or what is recorded.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"

namespace fs = std::filesystem;

namespace {

const char kRefuseBoth[] =
    R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})";

// A set-uid root copy of the gate in a directory that everybody can reach,
// started by the caller whose uid is the test's parameter.
class SetuidGate : public ::testing::TestWithParam<int> {
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
    box_.make_log_dir();
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the set-uid gate as the caller with extra environment entries,
  // through a wrapper (such as prlimit) that the caller runs first.
  RunResult as_caller(const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {},
                      const std::vector<std::string>& wrapper = {}) {
    const std::string id = std::to_string(GetParam());
    std::vector<std::string> argv = {"/usr/bin/setpriv",
                                     "--reuid=" + id,
                                     "--regid=" + id,
                                     groups_.empty() ? "--clear-groups" : "--groups=" + groups_,
                                     "--",
                                     "/usr/bin/env"};
    argv.insert(argv.end(), env.begin(), env.end());
    argv.insert(argv.end(), wrapper.begin(), wrapper.end());
    argv.push_back(gate_);
    argv.insert(argv.end(), args.begin(), args.end());
    return box_.run(argv);
  }
  RunResult as_caller(const std::string& command, const std::vector<std::string>& env = {}) {
    return as_caller(std::vector<std::string>{command}, env);
  }

  std::string dir_, gate_;
  std::string groups_;  // the caller's supplementary groups ("a,b"); none when empty
  Sandbox box_;
};

INSTANTIATE_TEST_SUITE_P(Callers, SetuidGate, testing::Values(65534, 33),
                         [](const testing::TestParamInfo<int>& p) {
                           return p.param == 33 ? "WebServer" : "Nobody";
                         });

TEST_P(SetuidGate, AllowedCommandRunsAsRootAndRefusedOneDoesNot) {
  RunResult r = as_caller("id -u; id -g");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0\n0\n");
  box_.policy(kRefuseBoth);
  RunResult refused = as_caller("echo RAN");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.out, "failed to pass the parameter check\n");
}

// The command's environment is root's, with pagers and editors that start no
// shell, plus the caller's language, time zone and terminal settings when
// their values cannot name a file; whatever else the caller sets (here:
// variables that made python, tar, PHP, apt, OpenSSL, git, less and lua run
// the caller's code) never arrives.
TEST_P(SetuidGate, EnvironmentIsBuiltFromScratch) {
  const RunResult r = as_caller("env | grep -v '^PWD=' | sort", {"PATH=" + dir_ + ":/usr/bin:/bin",
                                                                 "HOME=/tmp/evil",
                                                                 "TAR_OPTIONS=--to-command=evil",
                                                                 "PHPRC=/tmp/evil",
                                                                 "APT_CONFIG=/tmp/evil",
                                                                 "OPENSSL_CONF=/tmp/evil",
                                                                 "OPENSSL_MODULES=/tmp",
                                                                 "PYTHONPYCACHEPREFIX=/tmp",
                                                                 "GIT_EXEC_PATH=/tmp",
                                                                 "PAGER=evil",
                                                                 "SYSTEMD_PAGERSECURE=0",
                                                                 "LESSOPEN=|evil %s",
                                                                 "LUA_INIT=@/tmp/evil.lua",
                                                                 "LD_PRELOAD=/tmp/evil.so",
                                                                 "IFS=x",
                                                                 "BASH_FUNC_id%%=() { echo FAKE; }",
                                                                 "USER=mallory",
                                                                 "CORVEXIN_COOKIE=session=x",
                                                                 "TERM=xterm-256color",
                                                                 "LANG=de_DE.UTF-8",
                                                                 "LANGUAGE=de:en",
                                                                 "LC_TIME=C",
                                                                 "LC_ALL=C.UTF-8",
                                                                 "TZ=Europe/Berlin",
                                                                 "COLUMNS=120",
                                                                 "LINES=40",
                                                                 "LC_MESSAGES=../../tmp/evil",
                                                                 "LC_NUMERIC=%n%n",
                                                                 "EDITOR=vi",
                                                                 "GIT_PAGER=less",
                                                                 "LESSSECURE=0",
                                                                 "MANPAGER=less"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(
      r.out,
      "COLUMNS=120\nEDITOR=false\nGIT_EDITOR=false\nGIT_PAGER=cat\nHOME=/root\nLANG=de_DE.UTF-8\n"
      "LANGUAGE=de:en\nLC_ALL=C.UTF-8\nLC_TIME=C\nLESSSECURE=1\nLINES=40\nLOGNAME=root\nMANPAGER="
      "cat\n"
      "PAGER=cat\nPATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\n"
      "SHELL=/bin/sh\nSYSTEMD_EDITOR=false\nSYSTEMD_PAGER=cat\nSYSTEMD_PAGERSECURE=1\n"
      "TERM=xterm-256color\nTZ=Europe/Berlin\nUSER=root\nVISUAL=false\n");
  // Values that could name a file are dropped, each name on its own.
  const std::pair<const char*, const char*> unsafe[] = {
      {"TZ=/tmp/zone", "TZ"},     {"TZ=:/tmp/zone", "TZ"},       {"TZ=Europe/../../tmp", "TZ"},
      {"LANG=../x", "LANG"},      {"LC_CTYPE=a%sb", "LC_CTYPE"}, {"TERM=../../tmp/t", "TERM"},
      {"COLUMNS=80 ", "COLUMNS"}, {"LINES=", "LINES"},
  };
  for (const auto& [entry, name] : unsafe) {
    SCOPED_TRACE(entry);
    EXPECT_EQ(as_caller(std::string("echo \"[${") + name + "-unset}]\"", {entry}).out, "[unset]\n");
  }
}

// The command runs in "/" with root's group alone, whatever the caller's
// directory and groups; the system-log record keeps the caller's directory.
TEST_P(SetuidGate, CommandRunsInRootDirectoryWithRootGroupAlone) {
  SyslogSocket socket(box_);
  groups_ = "4242," + std::to_string(GetParam());
  const RunResult r =
      as_caller({"pwd; id -G"}, {}, {"/bin/sh", "-c", "cd \"$0\" && exec \"$@\"", dir_});
  EXPECT_EQ(r.out, "/\n0\n") << r.err;
  const auto records = socket.records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NE(records[0].find(" cwd=\"" + dir_ + "\" "), std::string::npos) << records[0];
}

// Where the set-uid bit has no effect, the gate runs nothing and says why.
TEST_P(SetuidGate, NoNewPrivsStartRunsNothing) {
  const RunResult r = as_caller({"echo RAN"}, {}, {"/usr/bin/setpriv", "--no-new-privs", "--"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kRefusal);
  EXPECT_EQ(r.err,
            "corvexin_check: cannot become root: no_new_privs is set, so the set-uid bit has no "
            "effect\n");
}

// Standard output or error going to a pipe whose reader is gone: the refusal
// is logged and recorded all the same, also with tracing on and a long
// command, or a role check whose cookie is refused on standard error.
TEST_P(SetuidGate, RefusalIsRecordedWhenTheCallersPipesAreGone) {
  SyslogSocket socket(box_);
  const std::string long_command(5000, 'y');
  const struct {
    const char* fds;
    std::string policy, command, cookie;
  } cases[] = {
      {"1,2", policy_text(section(1, R"([{"pattern": "^x"}])"), 1), long_command, "c"},
      {"1", policy_text(section(1, R"([{"pattern": "^x"}])"), 1), long_command, "c"},
      {"2", policy_text(section(1, R"([{"pattern": "^x"}])")), "x", "a\x01b"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fds);
    box_.policy(c.policy);
    fs::remove(box_.dir() + "/var/varn/log/corvexin_check.log");
    const RunResult r = as_caller({c.command, c.cookie}, {},
                                  {"/usr/bin/python3", "-c",
                                   "import os, sys\nr, w = os.pipe()\nos.close(r)\n"
                                   "for fd in sys.argv[1].split(','): os.dup2(w, "
                                   "int(fd))\nos.execv(sys.argv[2], sys.argv[2:])",
                                   c.fds});
    EXPECT_EQ(r.status, 1) << r.err;
    const std::string log = box_.log();
    EXPECT_NE(log.find("check failed, skip cmd\n\n"), std::string::npos) << log;
    const auto records = socket.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_NE(records[0].find("]: refused: "), std::string::npos) << records[0];
  }
}

TEST_P(SetuidGate, KeyLogFileIsNotWritten) {
  RoleService service(RoleService::kHttps);
  service.reply(R"({"user": "alice", "group_value": {"3": 2}})");
  box_.settings(service.settings("https"));
  box_.policy(policy_text(section(1, R"([{"pattern": "^echo ran$", "role_right": {"3": 2}}])")));
  const std::string keys = dir_ + "/keys";
  RunResult r = as_caller("echo ran", {"SSLKEYLOGFILE=" + keys});
  EXPECT_EQ(r.out, "ran\n") << r.err;
  EXPECT_EQ(service.requests().size(), 1u);
  EXPECT_FALSE(fs::exists(keys));
  // A root caller keeps its environment, and libcurl then does write the TLS
  // secrets there: the variable is effective, so the check above means something.
  r = box_.gate({"echo ran"}, {"SSLKEYLOGFILE=" + keys});
  EXPECT_EQ(r.out, "ran\n") << r.err;
  EXPECT_TRUE(fs::exists(keys));
}

// The cookie can come in CORVEXIN_COOKIE, which other local users cannot read
// in /proc; an argument wins; the variable never reaches the command, also
// not from a root caller.
TEST_P(SetuidGate, CookieFromTheEnvironment) {
  RoleService service;
  service.reply(R"({"user": "alice", "group_value": {"3": 2}})");
  box_.settings(service.settings("http"));
  box_.policy(policy_text(section(1, R"([{"pattern": "^echo", "role_right": {"3": 2}}])")));
  const std::string show = "echo \"[${CORVEXIN_COOKIE-unset}]\"";
  EXPECT_EQ(as_caller(show, {"CORVEXIN_COOKIE=session=env"}).out, "[unset]\n");
  EXPECT_EQ(as_caller({show, "session=argument"}, {"CORVEXIN_COOKIE=session=env"}).out,
            "[unset]\n");
  EXPECT_EQ(box_.gate({show}, {"CORVEXIN_COOKIE=session=root"}).out, "[unset]\n");
  EXPECT_EQ(as_caller(show).out, "[unset]\n");
  // A control byte in the variable stops the lookup as in an argument.
  EXPECT_EQ(as_caller(show, {"CORVEXIN_COOKIE=a\r\nX-Evil: 1"}).status, 1);
  std::vector<std::string> cookies;
  for (const auto& request : service.requests()) cookies.push_back(request.values("Cookie").at(0));
  EXPECT_EQ(cookies, (std::vector<std::string>{"session=env", "session=argument", "session=root",
                                               "placeholder_session_for_gate_test"}));
}

// Whether root here may lift a hard resource limit (CAP_SYS_RESOURCE, which
// the root of a container may lack).
bool root_lifts_hard_limits() {
  const pid_t pid = fork();
  if (pid == 0) {
    rlimit low{0, 0}, high{RLIM_INFINITY, RLIM_INFINITY};
    _exit(setrlimit(RLIMIT_FSIZE, &low) == 0 && setrlimit(RLIMIT_FSIZE, &high) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The caller's limits cannot end or tear the run, and the command runs under
// them. A soft limit is always lifted; a hard one only where root may: where
// it may not, a log line that would pass the limit is left out whole.
TEST_P(SetuidGate, CallersResourceLimitsNeitherEndNorTearTheRun) {
  box_.policy(kRefuseBoth);
  const std::string command(3000, 'c');
  const std::string record = command + "\ncheck failed, skip cmd\n\n";
  const bool lifted = root_lifts_hard_limits();
  for (const char* limit :
       {"--fsize=0:unlimited", "--fsize=3010:unlimited", "--fsize=0", "--fsize=3010"}) {
    SCOPED_TRACE(limit);
    fs::remove(box_.dir() + "/var/varn/log/corvexin_check.log");
    const RunResult r = as_caller({command}, {}, {"/usr/bin/prlimit", limit, "--"});
    EXPECT_EQ(r.status, 1) << r.err;
    if (lifted || strchr(limit, ':') != nullptr) {
      EXPECT_EQ(box_.log(), record);
    } else {
      EXPECT_EQ(box_.log(), strcmp(limit, "--fsize=0") == 0 ? "" : command + "\n");
      EXPECT_NE(r.err.find("would pass the caller's file-size limit"), std::string::npos) << r.err;
    }
  }
  // A data limit that leaves the gate too little: every start that gets as
  // far as the gate is refused and logged, never aborted. (AddressSanitizer's
  // own start-up cannot live with such a limit.)
#ifdef __SANITIZE_ADDRESS__
  const int largest_tried = 0;
#else
  const int largest_tried = 1024;
#endif
  for (int kib = 64; kib <= largest_tried; kib += 32) {
    SCOPED_TRACE(kib);
    fs::remove(box_.dir() + "/var/varn/log/corvexin_check.log");
    const RunResult r = as_caller(
        {"refused"}, {}, {"/usr/bin/prlimit", "--data=" + std::to_string(kib << 10), "--"});
    EXPECT_LT(r.status, 128) << "killed by a signal";
    EXPECT_EQ(r.err.find("terminate"), std::string::npos) << r.err;
    if (r.out.find("failed to pass") != std::string::npos) {
      EXPECT_EQ(box_.log(), "refused\ncheck failed, skip cmd\n\n");
    }
  }
  box_.policy(R"({"scripts_section": {"check_method": 0}})");
  const RunResult limited =
      as_caller({"ulimit -f; ulimit -n; ulimit -t"}, {},
                {"/usr/bin/prlimit", "--fsize=1024000", "--nofile=64", "--cpu=77", "--"});
  EXPECT_EQ(limited.out, "2000\n64\n77\n") << limited.err;
}

// Where someone else could put a link or a FIFO in the log's place, the gate
// writes nothing there and still decides; text from outside is written on
// one line, escaped and cut.
TEST_P(SetuidGate, LogIsWrittenOnlyAsAPlainFileAndOnlyLineByLine) {
  box_.policy(kRefuseBoth);
  const std::string log = box_.dir() + "/var/varn/log/corvexin_check.log";
  const std::string target = box_.dir() + "/etc/ld.so.preload";
  box_.write("/etc/ld.so.preload", "");
  ASSERT_EQ(symlink("/etc/ld.so.preload", log.c_str()), 0);
  RunResult r = as_caller("/tmp/evil.so");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(read_file(target), "");
  EXPECT_NE(r.err.find("is not a regular file"), std::string::npos) << r.err;
  fs::remove(log);
  ASSERT_EQ(mkfifo(log.c_str(), 0666), 0);
  r = as_caller("echo RAN");  // a FIFO with no reader: nothing holds the gate
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("is not a regular file"), std::string::npos) << r.err;
  fs::remove(log);

  // Nobody but root can have put the log's directory or the log itself
  // there: a linked directory, one that others may write, a file of
  // another's or one linked elsewhere too is not written.
  fs::create_directories(box_.dir() + "/etc/logrotate.d");
  const std::pair<const char*, const char*> unsafe[] = {
      {"has a symbolic link on its path", "rm -r log && ln -s /etc/logrotate.d log"},
      {"lies in a directory that someone other than root may change", "chmod g+w log"},
      {"is not owned by root", ": >log/corvexin_check.log && chown 33 log/corvexin_check.log"},
      {"has more than one link", ": >log/corvexin_check.log && ln log/corvexin_check.log x"},
  };
  for (const auto& [why, prepare] : unsafe) {
    SCOPED_TRACE(why);
    ASSERT_EQ(system(("cd " + box_.dir() + "/var/varn && " + prepare).c_str()), 0);
    r = as_caller("postrotate");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string("corvexin_check: /var/varn/log/corvexin_check.log ") + why +
                         "; nothing logged\n");
    EXPECT_TRUE(fs::is_empty(box_.dir() + "/etc/logrotate.d"));
    EXPECT_EQ(box_.log(), "");
    fs::remove_all(box_.dir() + "/var/varn"), box_.make_log_dir();
  }

  // A C1 control in UTF-8 (CSI) is escaped; another character of that page is not.
  as_caller("a\xc2\x9b[1m\xc2\xa0_\xc2");
  EXPECT_EQ(box_.log(), "a\\xc2\\x9b[1m\xc2\xa0_\xc2\ncheck failed, skip cmd\n\n");
  fs::remove(log);
  const std::string big(100 << 10, '\n');
  as_caller(big);
  std::string cut;
  for (int i = 0; i < 4096; ++i) cut += "\\x0a";
  EXPECT_EQ(box_.log(), cut + "...[102400 bytes]\ncheck failed, skip cmd\n\n");
}

// A policy that someone other than root can change is not used.
TEST_P(SetuidGate, PolicyThatOthersCanChangeIsNotUsed) {
  const std::string path = box_.dir() + "/etc/cmd_check.json";
  struct Case {
    uid_t owner;
    gid_t group;
    mode_t mode;
    const char* why;  // empty: the policy is used
  } cases[] = {
      {0, 0, 0644, ""},
      {0, 0, 0664, ""},
      {0, 0, 0600, ""},
      {1000, 0, 0644, "is not owned by root"},
      {0, 0, 0646, "is writable by others"},
      {0, 1000, 0664, "is writable by a group other than root"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.owner) + ":" + std::to_string(c.group) + " " +
                 std::to_string(c.mode));
    fs::remove(box_.dir() + "/var/varn/log/corvexin_check.log");
    box_.policy(R"({"scripts_section": {"check_method": 0}})");
    ASSERT_EQ(chown(path.c_str(), c.owner, c.group), 0);
    ASSERT_EQ(chmod(path.c_str(), c.mode), 0);
    const RunResult r = as_caller("echo RAN");
    if (*c.why == '\0') {
      EXPECT_EQ(r.out, "RAN\n") << r.err;
      continue;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kEmptyDocument);
    EXPECT_EQ(r.err, std::string("corvexin_check: /etc/cmd_check.json ") + c.why + ": not used\n");
    EXPECT_EQ(box_.log(), "load json failed, skip cmd\n\n");
  }
  fs::remove(path);
  ASSERT_EQ(mkfifo(path.c_str(), 0644), 0);
  const RunResult fifo = as_caller("echo RAN");
  EXPECT_EQ(fifo.err, "corvexin_check: /etc/cmd_check.json is not a regular file: not used\n");
  EXPECT_EQ(fifo.out, kEmptyDocument);
}

// The role lookup takes only what is sound: a port that is a number, and a
// reply that parses as a whole.
TEST_P(SetuidGate, RoleLookupUsesOnlyAPortNumberAndAWholeReply) {
  box_.policy(policy_text(section(1, R"([{"pattern": "^echo ran$", "role_right": {"3": 2}}])")));
  RoleService service;
  const std::string port = std::to_string(service.port());
  const std::pair<std::string, std::string> cases[] = {
      {"1@127.0.0.1:" + port, R"({"user": "admin"})"},
      {port + "/other/path?x=", R"({"user": "admin"})"},
      {port, R"({"user": "admin", "group_value": )"},
      {port, R"({"user": "alice"}{"user": "admin"})"},
      {port, R"({"user": "admin", "pad": ")" + std::string(2 << 20, 'x') + "\"}"},
  };
  for (const auto& [server, reply] : cases) {
    SCOPED_TRACE(server + " " + reply);
    service.reply(reply);
    box_.settings("[http]\nkelvo_web_protocol=http\nkelvo_web_server=" + server + "\n");
    const RunResult r = as_caller("echo ran");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(kRefusal), std::string::npos) << r.out;
  }
  EXPECT_EQ(service.requests().size(), 3u);  // none for the two that are no port number
}

// The request, and with it the cookie, goes only to a role service whose
// socket is root's or the "role_service_user"'s: another account that took
// the port while the web service was down gets nothing and grants nothing.
TEST_P(SetuidGate, RoleServiceOfAnotherAccountGetsNoRequest) {
  const struct {
    uid_t runs_as;
    RoleService::Protocol protocol;
    const char* member;   // of the policy
    const char* refused;  // on standard error and in the log; empty: the request is sent
    RoleService::Listener listener = RoleService::kSelf;
  } cases[] = {
      {0, RoleService::kHttp, "", ""},
      {0, RoleService::kHttps, R"("role_service_user": "nobody",)", ""},
      {65534, RoleService::kHttp, "", "is run by uid 65534, not by root; request not sent"},
      {65534, RoleService::kHttps, "", "is run by uid 65534, not by root; request not sent"},
      {65534, RoleService::kHttp, R"("role_service_user": "nobody",)", ""},
      {65534, RoleService::kHttp, R"("role_service_user": 65534,)", ""},
      {65534, RoleService::kHttp, R"("role_service_user": "www-data",)",
       "is run by uid 65534, not by root or \"role_service_user\" (uid 33); request not sent"},
      {0, RoleService::kHttp, R"("role_service_user": "no such account",)",
       "\"role_service_user\" is neither an account name nor a uid; role lookup skipped"},
      // A root master listens, its worker accepts as nobody: the worker answers.
      {65534, RoleService::kHttp, "", "is run by uid 65534, not by root; request not sent",
       RoleService::kRootMaster},
      {65534, RoleService::kHttp, R"("role_service_user": "nobody",)", "",
       RoleService::kRootMaster},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.runs_as) + " " + c.member + std::to_string(c.listener));
    RoleService service(c.protocol, RoleService::kSelfSigned, c.runs_as, c.listener);
    service.reply(R"({"user": "admin"})");
    box_.settings(service.settings(c.protocol == RoleService::kHttps ? "https" : "http"));
    box_.policy(std::string("{") + c.member +
                policy_text(section(1, R"([{"pattern": "^echo ran$", "role_right": {"3": 2}}])"))
                    .substr(1));
    fs::remove(box_.dir() + "/var/varn/log/corvexin_check.log");
    const RunResult r = as_caller("echo ran");
    if (*c.refused == '\0') {
      EXPECT_EQ(r.out, "ran\n") << r.err;
      EXPECT_EQ(service.requests().size(), 1u);
      continue;
    }
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find(kRefusal), std::string::npos) << r.out;
    EXPECT_NE(r.err.find(c.refused), std::string::npos) << r.err;
    EXPECT_NE(box_.log().find(c.refused), std::string::npos) << box_.log();
    EXPECT_TRUE(service.requests().empty());
  }
}

TEST_P(SetuidGate, ProxyVariablesDoNotDivertTheLookup) {
  RoleService decoy;
  decoy.reply(R"({"user": "admin"})");
  const std::string proxy = "http://127.0.0.1:" + std::to_string(decoy.port());
  box_.policy(policy_text(section(1, R"([{"pattern": "^echo ran$", "role_right": {"3": 2}}])")));
  for (auto protocol : {RoleService::kHttp, RoleService::kHttps}) {
    RoleService service(protocol);
    service.reply(R"({"user": "alice", "group_value": {"3": 1}})");
    box_.settings(service.settings(protocol == RoleService::kHttps ? "https" : "http"));
    const RunResult r = as_caller(
        "echo ran", {"http_proxy=" + proxy, "HTTPS_PROXY=" + proxy, "https_proxy=" + proxy,
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
TEST_P(SetuidGate, RootOnlyFilesDoNotLeakThroughMessages) {
  RoleService service;
  service.reply(R"({"user": "alice", "group_value": {"3": 2}})");
  struct Case {
    const char* what;
    std::string policy, settings;
  } cases[] = {
      {"syntax error after a secret", R"({"secret": "SECRET-7731", "scripts_section": {} oops})",
       ""},
      {"a number that cannot be converted", R"({"enable_log": 1, "pin": 77319e99999})", ""},
      {"a value of the wrong type", R"({"scripts_section": {"check_method": "SECRET-7731"}})", ""},
      {"comment left open", "/* SECRET-7731", ""},
      {"settings that make no sense",
       policy_text(section(1, R"([{"pattern": "^echo ran$", "role_right": {"3": 2}}])")),
       "[http]\nkelvo_web_protocol=SECRET-7731\nkelvo_web_server=7731x" +
           std::to_string(service.port()) + "/SECRET-7731\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    box_.policy(c.policy);
    box_.settings(c.settings);
    for (const char* path : {"/etc/cmd_check.json", "/etc/kelvo/halvora.ini"})
      ASSERT_EQ(chmod((box_.dir() + path).c_str(), 0600), 0);
    const RunResult r = as_caller("echo ran");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.find("7731"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("7731"), std::string::npos) << r.err;
    EXPECT_NE(r.out.find(kRefusal), std::string::npos) << r.out;
  }
  // Root may read the policy anyway, and is shown the number.
  box_.policy(cases[1].policy);
  EXPECT_NE(box_.gate({"echo ran"}).out.find("'77319e99999' is not a number."), std::string::npos);
}

// The system-log record names the caller by its real uid, which taking root
// identity replaces, and by its name in the password database.
TEST_P(SetuidGate, SystemLogNamesTheRealCaller) {
  SyslogSocket socket(box_);
  EXPECT_EQ(as_caller("echo ran").out, "ran\n");
  box_.policy(kRefuseBoth);
  EXPECT_EQ(as_caller("echo ran").status, 1);
  const std::string caller =
      GetParam() == 33 ? " uid=33 login=\"www-data\" " : " uid=65534 login=\"nobody\" ";
  const std::vector<std::string> records = socket.records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_NE(records[0].find("]: allowed:" + caller), std::string::npos) << records[0];
  EXPECT_NE(records[1].find("]: refused:" + caller), std::string::npos) << records[1];
}

// Every allowed run leaves a trace that outlives it, or does not run: its
// system-log record, taken by the log socket, or else its lines in the log
// file, whatever "enable_log" says. A queue that any account can keep full
// is waited for a second; with neither the system log nor the log file the
// command is refused. A real rsyslogd flooded by the caller misses no
// allowed run either.
TEST_P(SetuidGate, AllowedCommandLeavesADurableTrace) {
  enum Syslog { kNone, kListening, kFull, kFloodedDaemon };
  const std::string allow = R"({"scripts_section": {"check_method": 0}})";
  const std::string lines = "echo ran\npass the scripts check, run cmd now\n\n";
  const struct {
    const char* what;
    Syslog syslog;
    bool log_dir;
    std::string policy;
    bool runs, record;
    std::string log;
  } cases[] = {
      {"record taken", kListening, true, allow, true, true, ""},
      {"record taken, no log file", kListening, false, allow, true, true, ""},
      {"no /dev/log", kNone, true, allow, true, false, lines},
      {"no /dev/log, no log file", kNone, false, allow, false, false, ""},
      {"a full queue", kFull, true, allow, true, false, lines},
      {"a full queue, no log file", kFull, false, allow, false, false, ""},
      {"record off", kListening, true, R"({"syslog": 0, "scripts_section": {"check_method": 0}})",
       true, false, lines},
      {"lines logged already", kNone, true,
       R"({"enable_log": 1, "scripts_section": {"check_method": 0}})", true, false, lines},
      {"rsyslogd flooded by the caller", kFloodedDaemon, true, allow, true, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Sandbox box;
    box.policy(c.policy);
    if (c.log_dir) box.make_log_dir();
    std::unique_ptr<SyslogSocket> socket;
    std::unique_ptr<Rsyslogd> daemon;
    if (c.syslog == kNone) box.no_syslog();
    if (c.syslog == kListening || c.syslog == kFull) socket = std::make_unique<SyslogSocket>(box);
    if (c.syslog == kFull) socket->fill();
    const int runs = c.syslog == kFloodedDaemon ? 10 : 1;
    if (c.syslog == kFloodedDaemon) {
      daemon = std::make_unique<Rsyslogd>(box);
      daemon->flood(6, GetParam());
    }
    std::vector<std::string> commands;
    for (int i = 0; i < runs; ++i) {
      const std::string command = runs == 1 ? "echo ran" : "echo ran " + std::to_string(i);
      const std::string id = std::to_string(GetParam());
      const RunResult r = box.run({"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id,
                                   "--clear-groups", "--", gate_, command});
      EXPECT_EQ(r.out, c.runs ? command.substr(5) + "\n" : kRefusal) << r.err;
      if (!c.runs) {
        EXPECT_NE(r.err.find("neither the system log nor the log file"), std::string::npos);
      }
      commands.push_back(command);
    }
    if (daemon) {
      daemon->stop_flood();
      // Each run's record, or its lines in the log file; the daemon writes
      // what it took a moment later.
      for (const auto& command : commands) {
        const std::string record = "command=\"" + command + "\"";
        for (int wait = 0; wait < 500 && daemon->messages().find(record) == std::string::npos &&
                           box.log().find(command + "\n") == std::string::npos;
             ++wait)
          usleep(10000);
        EXPECT_TRUE(daemon->messages().find(record) != std::string::npos ||
                    box.log().find(command + "\npass the scripts check") != std::string::npos)
            << command;
      }
      continue;
    }
    EXPECT_EQ(box.log(), c.log);
    if (c.syslog == kListening) {
      const auto records = socket->records();
      EXPECT_EQ(records.size(), c.record ? 1u : 0u);
    }
  }
}

// The caller's cookie never reaches the record, also where the web side
// starts the gate through a shell that holds it on its command line: each
// occurrence is replaced by a mark; where that cannot be done safely (a short
// cookie, a line cut in the middle of one) only the parent's program is kept.
TEST_P(SetuidGate, CookieOnTheParentsCommandLineIsNotRecorded) {
  SyslogSocket socket(box_);
  const std::string cookie = "session=S3CRET7731";
  const std::string quoted = "'" + gate_ + "' 'echo ran'";
  // Padding that puts the cookie across the end of the 1024 bytes read.
  const std::string prefix = "/bin/sh -c : ";
  const std::string before = "; " + quoted + " ";
  const std::string pad(1020 - prefix.size() - before.size(), 'p');
  const struct {
    const char* what;
    std::string script, cookie, parent;
  } cases[] = {
      {"argument", quoted + " '" + cookie + "'; true", cookie,
       "/bin/sh -c " + quoted + " '[cookie]'; true"},
      {"variable", "CORVEXIN_COOKIE='" + cookie + "' " + quoted + "; true", cookie,
       "/bin/sh -c CORVEXIN_COOKIE='[cookie]' " + quoted + "; true"},
      {"both", "CORVEXIN_COOKIE=" + cookie + "2 " + quoted + " " + cookie + "; true", cookie,
       "/bin/sh -c CORVEXIN_COOKIE=[cookie]2 " + quoted + " [cookie]; true"},
      {"short cookie", quoted + " S3C77; true", "S3C77", "/bin/sh"},
      {"cut in the cookie", ": " + pad + before + cookie + "; true", cookie, "/bin/sh"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string id = std::to_string(GetParam());
    const RunResult r = box_.run({"/usr/bin/setpriv", "--reuid=" + id, "--regid=" + id,
                                  "--clear-groups", "--", "/bin/sh", "-c", c.script});
    EXPECT_EQ(r.out, "ran\n") << r.err;
    const auto records = socket.records();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].find(c.cookie), std::string::npos) << records[0];
    EXPECT_NE(records[0].find(" parent=\"" + c.parent + "\" "), std::string::npos) << records[0];
  }
}

// The terminal's stop signals cannot hold a root gate: ^Z typed on the
// caller's terminal while the gate's trace output is held (^S) stops nothing,
// and the command runs once the output flows again.
TEST_P(SetuidGate, StopFromTheTerminalDoesNotHoldTheGate) {
  box_.no_syslog();  // the terminals of /dev/pts, not a private /dev
  box_.make_log_dir();
  box_.policy(R"({"enable_log": 1, "scripts_section": {"check_method": 0}})");
  const std::string id = std::to_string(GetParam());
  // The gate runs as the foreground job of a session on a pseudo-terminal
  // (a group of its own, as a shell with job control starts it). Each step
  // waits for what it needs, however long a busy machine takes: the output
  // held (the terminal reports it in packet mode), the gate started and
  // blocked on it. ^Z then reaches the gate itself, and ^Q, behind it in the
  // terminal's input, lets the output flow only after it. Prints "stopped"
  // when the gate was ever seen stopped, then what the terminal showed.
  const char* const script = R"py(
import fcntl, os, pty, select, signal, struct, sys, termios, time
go_r, go_w = os.pipe()
job_r, job_w = os.pipe()
pid, master = pty.fork()
if pid == 0:
    # A shell with job control: the gate is a foreground job of its own.
    job = os.fork()
    if job == 0:
        os.setpgid(0, 0)
        os.read(go_r, 1)
        os.execv(sys.argv[1], sys.argv[1:])
    os.setpgid(job, job)
    signal.signal(signal.SIGTTOU, signal.SIG_IGN)
    os.tcsetpgrp(0, job)
    os.write(job_w, b"%d\n" % job)
    os.waitpid(job, 0)
    os._exit(0)
job = int(os.read(job_r, 64))
fcntl.ioctl(master, termios.TIOCPKT, struct.pack("i", 1))
os.write(master, b"\x13")
held = False
while not held and select.select([master], [], [], 30)[0]:
    held = os.read(master, 4096)[0] & termios.TIOCPKT_STOP != 0
os.write(go_w, b"x")
def state_of(job):
    try:
        comm = open("/proc/%d/comm" % job).read().strip()
        return comm, open("/proc/%d/stat" % job).read().rsplit(")", 1)[1].split()[0]
    except OSError:
        return "", ""
gate = os.path.basename(sys.argv[-2])[:15]
deadline = time.time() + 30
while state_of(job) != (gate, "S") and time.time() < deadline:
    time.sleep(0.01)
os.write(master, b"\x1a")
stopped = False
for _ in range(100):
    stopped = stopped or state_of(job)[1] == "T"
    time.sleep(0.01)
os.write(master, b"\x11")
if stopped:
    print("stopped")
    os.kill(job, 9)
seen = b""
while select.select([master], [], [], 10)[0]:
    try:
        packet = os.read(master, 4096)
    except OSError:
        break
    if not packet:
        break
    if packet[0] == termios.TIOCPKT_DATA:
        seen += packet[1:]
os.waitpid(pid, 0)
sys.stdout.write(seen.decode(errors="replace").replace("\r", ""))
)py";
  const RunResult r =
      box_.run({"/usr/bin/python3", "-c", script, "/usr/bin/setpriv", "--reuid=" + id,
                "--regid=" + id, "--clear-groups", "--", gate_, "echo ran"});
  EXPECT_EQ(r.out.find("stopped"), std::string::npos) << r.out << r.err;
  EXPECT_NE(r.out.find("ran\n"), std::string::npos) << r.out << r.err;
}

TEST(RootCaller, KeepsItsEnvironment) {
  Sandbox box;
  box.policy(R"({"scripts_section": {"check_method": 0}})");
  RunResult r = box.gate({"echo \"[$PYTHONPATH][$PATH]\""},
                         {"PYTHONPATH=/opt/py", "PATH=/opt/bin:/usr/bin:/bin"});
  EXPECT_EQ(r.out, "[/opt/py][/opt/bin:/usr/bin:/bin]\n");
}

}  // namespace

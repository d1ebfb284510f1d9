// Entry of the gate: arguments, exit statuses, the process state the command
// starts in, and the refusal of a failure that escapes the decision.
#include <gtest/gtest.h>

#include "audit.h"
#include "gate_runner.h"

namespace {

const char kAllowAll[] = R"({"scripts_section": {"check_method": 0}})";
const char kRefuseAll[] =
    R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})";

TEST(Entry, WrongArgumentCountsAreRefusedBeforeThePolicyIsRead) {
  Sandbox box;
  box.policy("this is not json");
  box.make_log_dir();
  for (const auto& args :
       std::vector<std::vector<std::string>>{{}, {"a", "b", "c"}, {"a", "b", "c", "d"}}) {
    RunResult r = box.gate(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "wrong parameter number input");  // no newline, no parse error
    EXPECT_EQ(r.err, "");
  }
  EXPECT_EQ(box.log(), "");
}

TEST(Entry, AllowedCommandBecomesTheShell) {
  Sandbox box;
  box.policy(kAllowAll);
  // With and without a cookie; the shell's status is the gate's.
  EXPECT_EQ(box.gate({"echo hello"}).out, "hello\n");
  EXPECT_EQ(box.gate({"echo hello", "cookie=1"}).out, "hello\n");
  EXPECT_EQ(box.gate({"exit 7"}).status, 7);
  RunResult empty = box.gate({""});
  EXPECT_EQ(empty.status, 0);
  EXPECT_EQ(empty.out, "");
  // The environment reaches the shell unchanged.
  EXPECT_EQ(box.gate({"echo $GATE_TEST_VAR"}, {"GATE_TEST_VAR=kept"}).out, "kept\n");
}

TEST(Entry, RefusalPrintsItsMessageAndRunsNothing) {
  Sandbox box;
  box.policy(kRefuseAll);
  RunResult r = box.gate({"echo RAN"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "failed to pass the parameter check\n");
}

TEST(Entry, TraceOnAPipeIsDiscardedByTheExec) {
  Sandbox box;
  box.policy(R"({"enable_log": 1, "scripts_section": {"check_method": 0}})");
  RunResult r = box.gate({"echo only this"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "only this\n");
}

TEST(Entry, ShellStartsWithCleanDescriptorsSignalsAndMask) {
  Sandbox box;
  box.policy(kAllowAll);
  // The caller leaves descriptors open (one far above the limit it then
  // lowers), ignores signals and uses a narrow file-creation mask.
  const std::string setup =
      "ulimit -n \"$(ulimit -Hn)\"; exec 5</dev/null 4000</dev/null; ulimit -Sn 100; "
      "trap '' INT QUIT TERM; umask 077; exec \"$@\"";
  RunResult fds = box.run({"/bin/bash", "-c", setup, "x", gate_binary(), "ls -1 /proc/self/fd"});
  EXPECT_EQ(fds.out, "0\n1\n2\n3\n");  // 3 is the directory ls reads
  RunResult sig =
      box.run({"/bin/bash", "-c", setup, "x", gate_binary(), "grep SigIgn /proc/self/status"});
  EXPECT_EQ(sig.out, "SigIgn:\t0000000000000000\n");
  RunResult mask = box.run({"/bin/bash", "-c", setup, "x", gate_binary(), "umask"});
  EXPECT_EQ(mask.out, "0022\n");
  // Blocked signals and interval timers survive an exec: the caller's would
  // defeat the run's own time bound, or end the run (or the command) at a
  // moment of the caller's choosing.
  const char* timers =
      "import os, signal, sys\n"
      "signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGALRM, signal.SIGTERM})\n"
      "signal.setitimer(signal.ITIMER_REAL, 1)\n"
      "signal.setitimer(signal.ITIMER_PROF, 0.2)\n"
      "os.execv(sys.argv[1], sys.argv[1:])\n";
  // The command outlives both timers: it sleeps, and burns CPU time.
  RunResult timed = box.run(
      {"/usr/bin/python3", "-c", timers, gate_binary(),
       "sleep 2; awk 'BEGIN{for(i=0;i<5e7;i++);}'; grep SigBlk /proc/self/status; echo done"});
  EXPECT_EQ(timed.out, "SigBlk:\t0000000000000000\ndone\n") << timed.err;
}

TEST(Entry, ShellThatCannotBeExecutedGivesStatus255) {
  Sandbox box;
  box.policy(kAllowAll);
  box.make_log_dir();
  // Inside the sandbox only: /bin/sh becomes a device that cannot be executed.
  RunResult r = box.run({"/bin/bash", "-c", "mount --bind /dev/null /bin/sh && exec \"$@\"", "x",
                         gate_binary(), "echo RAN"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "");
  // The record said "allowed"; the log says that the command did not run.
  EXPECT_EQ(box.log(), "echo RAN\ncannot start /bin/sh, cmd not run\n\n");
}

// A failure that escapes the decision (here a section that is an array, which
// cannot be read by key) is refused and logged like any other refusal.
TEST(Entry, EscapedFailureIsALoggedRefusal) {
  Sandbox box;
  box.policy(R"({"scripts_section": [1, 2]})");
  box.make_log_dir();
  RunResult r = box.gate({"echo RAN %s"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, "failed to pass the parameter check\n");
  EXPECT_EQ(r.err.rfind("corvexin_check: ", 0), 0u) << r.err;
  EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1);
  EXPECT_EQ(box.log(), "echo RAN %s\ncheck failed, skip cmd\n\n");
}

// What the loader is told about the binary: the appliance's library
// directory and nothing else as search path (an empty entry would mean the
// caller's current directory), relocations bound and write-protected before
// main, position-independent, and libcurl not among the start-up libraries.
// The code is built with the stack protector and fortified C library calls
// (sanitizer builds leave the fortification out).
TEST(Entry, BinaryIsBuiltForASetuidStart) {
  Sandbox box;
  RunResult r = box.run({"/bin/sh", "-c", "readelf -d -l --dyn-syms -W \"$0\"", gate_binary()});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find(" __stack_chk_fail@"), std::string::npos);
#ifndef __SANITIZE_ADDRESS__
  EXPECT_NE(r.out.find(" __printf_chk@"), std::string::npos);
#endif
  EXPECT_NE(r.out.find("Library runpath: [/etc/kelvo/lib]\n"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("(RPATH)"), std::string::npos);
  EXPECT_NE(r.out.find("BIND_NOW"), std::string::npos);
  EXPECT_NE(r.out.find("Flags: NOW PIE"), std::string::npos);
  EXPECT_NE(r.out.find("GNU_RELRO"), std::string::npos);
  EXPECT_EQ(r.out.find("libcurl"), std::string::npos);
}

// The parent's command line in the record never shows a cookie: each one is
// masked, or where masking cannot be trusted only the program is kept (and
// not even that when it holds a cookie).
TEST(Entry, RecordedParentLineHidesTheCookies) {
  const struct {
    const char* line;
    bool cut;  // the line filled its buffer: more may have followed
    const char* argument;
    const char* variable;
    const char* shown;  // null: nothing of the parent is shown
  } rows[] = {
      {"sh -c corvexin_check 'id -u' 'session=S3CRET42'; echo session=S3CRET42", false,
       "session=S3CRET42", nullptr, "sh -c corvexin_check 'id -u' '[cookie]'; echo [cookie]"},
      {"sh -c CORVEXIN_COOKIE=session=ENV0COOKIE corvexin_check id", false, nullptr,
       "session=ENV0COOKIE", "sh -c CORVEXIN_COOKIE=[cookie] corvexin_check id"},
      {"sh -c corvexin_check id abc", false, "abc", nullptr, "sh"},
      {"sh -c corvexin_check id 'sess", true, "session=S3CRET42", nullptr, "sh"},
      {"sh -c corvexin_check id", true, "session=S3CRET42", nullptr, "sh -c corvexin_check id"},
      {"abc -x", false, "abc", nullptr, nullptr},
  };
  for (const auto& row : rows) {
    std::string line = row.line;
    CallerFacts caller;
    caller.argument = row.argument;
    caller.variable = row.variable;
    const char* shown = parent_without_cookies(line.data(), row.cut, caller);
    if (row.shown == nullptr) {
      EXPECT_EQ(shown, nullptr) << row.line;
    } else {
      ASSERT_NE(shown, nullptr) << row.line;
      EXPECT_STREQ(shown, row.shown) << row.line;
    }
  }
}

}  // namespace

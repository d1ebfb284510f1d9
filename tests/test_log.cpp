// The log: exact bytes, verbatim messages, file mode, and a missing log
// directory that must not change any decision.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "gate_runner.h"

namespace {

TEST(Log, CommandIsWrittenVerbatim) {
  Sandbox box;
  box.make_log_dir();
  box.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
  const std::string command = "printf '%s %n %d %%' \"$HOME\"\t\\n";
  ASSERT_EQ(box.gate({command}).status, 1);
  EXPECT_EQ(box.log(), command + "\ncheck failed, skip cmd\n\n");
}

TEST(Log, AppendsAndCreatesTheFileReadableByAll) {
  Sandbox box;
  box.make_log_dir();
  box.write("/var/varn/log/corvexin_check.log", "earlier line\n");
  box.policy(R"({"enable_log": 1})");
  ASSERT_EQ(box.gate({"true"}).status, 0);
  EXPECT_EQ(box.log(), "earlier line\ntrue\npass the scripts check, run cmd now\n\n");

  Sandbox fresh;
  fresh.make_log_dir();
  fresh.policy(R"({"enable_log": 1})");
  // The caller's narrow mask does not apply: the gate sets 022.
  ASSERT_EQ(fresh.run({"/bin/bash", "-c", "umask 077; exec \"$@\"", "x", gate_binary(), "true"}).status, 0);
  struct stat st {};
  ASSERT_EQ(stat((fresh.dir() + "/var/varn/log/corvexin_check.log").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(Log, MissingLogDirectoryChangesNoDecision) {
  Sandbox box;
  box.policy(R"({"enable_log": 1, "scripts_section": {"check_method": 2}})");
  RunResult ran = box.gate({"echo ran"});
  EXPECT_EQ(ran.status, 0);
  EXPECT_EQ(ran.out, "ran\n");
  box.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
  EXPECT_EQ(box.gate({"echo ran"}).status, 1);
  EXPECT_FALSE(box.exists("/var/varn/log/corvexin_check.log"));
}

}  // namespace

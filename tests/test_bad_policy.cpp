// Policies that are broken in size, depth, encoding or kind of file: the run
// never allows a command it should not, never crashes, and the refusal is
// logged.
#include <gtest/gtest.h>
#include <unistd.h>

#include "gate_runner.h"

namespace {

const char kRefusedOut[] = "failed to pass the parameter check\n";
const char kRefuseBoth[] = R"("scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2})";

TEST(BadPolicy, NestingDeeperThanTheReaderAllowsIsALoggedRefusal) {
  Sandbox box;
  box.make_log_dir();
  box.policy(R"({"scripts_section": {"check_method": 0}, "deep": )" + std::string(10000, '[') +
             std::string(10000, ']') + "}");
  RunResult r = box.gate({"echo RAN"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kRefusedOut);
  EXPECT_NE(r.err.find("corvexin_check: "), std::string::npos);
  EXPECT_EQ(box.log(), "echo RAN\ncheck failed, skip cmd\n\n");
}

TEST(BadPolicy, FiftyMegabytePolicyIsDecided) {
  const std::string pad(50u << 20, 'x');
  Sandbox refuse;
  refuse.policy("{\"pad\": \"" + pad + "\", " + kRefuseBoth + "}");
  EXPECT_EQ(refuse.gate({"echo RAN"}).status, 1);
  Sandbox allow;
  allow.policy("{\"pad\": \"" + pad + "\", \"scripts_section\": {\"check_method\": 0}}");
  RunResult r = allow.gate({"echo RAN"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "RAN\n");
}

TEST(BadPolicy, UnreadablePolicyIsRefused) {
  Sandbox box;
  box.make_log_dir();
  const std::string path = box.dir() + "/etc/cmd_check.json";
  box.write("/etc/placeholder", "");
  ASSERT_EQ(symlink("cmd_check.json", path.c_str()), 0);  // a link to itself
  RunResult r = box.gate({"echo RAN"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("Failed to parse configuration\n", 0), 0u);
  EXPECT_EQ(box.log(), "load json failed, skip cmd\n\n");
}

TEST(BadPolicy, InvalidUtf8) {
  // Inside strings the bytes are taken as they are; outside, they are a syntax error.
  Sandbox in_string;
  in_string.policy("{\"note\": \"\xff\xfe\xc3\x28\", \"scripts_section\": {\"check_method\": 0}}");
  EXPECT_EQ(in_string.gate({"echo RAN"}).status, 0);
  Sandbox outside;
  outside.policy("{\xff: 1, \"scripts_section\": {\"check_method\": 0}}");
  RunResult r = outside.gate({"echo RAN"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind("Failed to parse configuration\n", 0), 0u);
}

}  // namespace

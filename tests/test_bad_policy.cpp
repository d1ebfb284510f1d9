// Policies that are broken in size, depth, encoding or kind of file: the run
// never allows a command it should not, never crashes, and the refusal is
// logged.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"

namespace {

const char kRefuseBoth[] =
    R"("scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2})";

TEST(BadPolicy, NestingDeeperThanTheReaderAllowsIsALoggedRefusal) {
  Sandbox box;
  box.make_log_dir();
  box.policy(R"({"scripts_section": {"check_method": 0}, "deep": )" + std::string(10000, '[') +
             std::string(10000, ']') + "}");
  RunResult r = box.gate({"echo RAN"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kRefusal);
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
  for (bool directory : {false, true}) {
    SCOPED_TRACE(directory ? "a directory" : "a link to itself");
    Sandbox box;
    box.make_log_dir();
    const std::string path = box.dir() + "/etc/cmd_check.json";
    box.write("/etc/placeholder", "");
    if (directory) {
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    } else {
      ASSERT_EQ(symlink("cmd_check.json", path.c_str()), 0);
    }
    RunResult r = box.gate({"echo RAN"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind("Failed to parse configuration\n", 0), 0u);
    EXPECT_EQ(box.log(), "load json failed, skip cmd\n\n");
  }
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

// A value of a type that the decision cannot convert, at every place that the
// decision reads, ends the run: the command does not run although the ui
// section would allow it, the refusal is logged, the status is 1 and the gate
// is not killed by a signal. Entries that demand a role check are asked of a
// real role service, which answers for an ordinary user unless the case gives
// another reply.
TEST(BadPolicy, WrongTypesEndTheRun) {
  constexpr char kUser[] = R"({"user": "alice", "group_value": {"3": 1}})";
  struct Case {
    const char* what;
    std::string list;  // the scripts section's white list
    int type_check;
    std::string reply;
  } cases[] = {
      {"pattern array", R"([{"pattern": ["echo"]}])", 0, kUser},
      {"pattern object", R"([{"pattern": {"p": "echo"}}])", 0, kUser},
      {"cookie flag string", R"([{"pattern": "echo", "is_cookie_check": "0"}])", 0, kUser},
      {"cookie flag array", R"([{"pattern": "echo", "is_cookie_check": [0]}])", 0, kUser},
      {"cookie flag object", R"([{"pattern": "echo", "is_cookie_check": {}}])", 0, kUser},
      {"cookie flag beyond 32 bits", R"([{"pattern": "echo", "is_cookie_check": 4294967296}])", 0,
       kUser},
      {"type string", R"([{"pattern": "echo", "is_cookie_check": 0, "type": "1"}])", 1, kUser},
      {"type negative", R"([{"pattern": "echo", "type": -1}])", 1, kUser},
      {"type array", R"([{"pattern": "echo", "type": [1]}])", 1, kUser},
      {"role_right string", R"([{"pattern": "echo", "role_right": "3"}])", 0, kUser},
      {"role_right array", R"([{"pattern": "echo", "role_right": [2]}])", 0, kUser},
      {"role_right number", R"([{"pattern": "echo", "role_right": 2}])", 0, kUser},
      {"role_right true", R"([{"pattern": "echo", "role_right": true}])", 0, kUser},
      {"level string", R"([{"pattern": "echo", "role_right": {"3": "1"}}])", 0, kUser},
      {"level beyond 32 bits", R"([{"pattern": "echo", "role_right": {"3": 2147483648}}])", 0,
       kUser},
      {"level below 32 bits", R"([{"pattern": "echo", "role_right": {"3": -2147483649}}])", 0,
       kUser},
      {"level object", R"([{"pattern": "echo", "role_right": {"1": {}}}])", 0, kUser},
      {"entry array", R"([["echo"]])", 0, kUser},
      {"entry string", R"(["echo"])", 0, kUser},
      {"entry number", R"([5])", 0, kUser},
      {"list object with members", R"({"pattern": "echo"})", 0, kUser},
      // Replies of the role service outside the account role information.
      {"reply array", R"([{"pattern": "echo", "role_right": {"3": 1}}])", 0,
       R"([{"user": "admin"}])"},
      {"reply string", R"([{"pattern": "echo", "role_right": {"3": 1}}])", 0, R"("admin")"},
      {"reply number", R"([{"pattern": "echo", "role_right": {"3": 1}}])", 0, "42"},
      {"user array", R"([{"pattern": "echo", "role_right": {"3": 1}}])", 0,
       R"({"user": ["admin"]})"},
      {"user object", R"([{"pattern": "echo", "role_right": {"3": 1}}])", 0,
       R"({"user": {"name": "admin"}})"},
      {"group_value string", R"([{"pattern": "echo", "role_right": {"3": 1}}])", 0,
       R"({"user": "alice", "group_value": "3"})"},
      {"group_value array", R"([{"pattern": "echo", "role_right": {"3": 1}}])", 0,
       R"({"user": "alice", "group_value": [1, 1, 1, 1]})"},
      {"granted level string", R"([{"pattern": "echo", "role_right": {"3": 1}}])", 0,
       R"({"user": "alice", "group_value": {"3": "1"}})"},
      {"granted level beyond 32 bits", R"([{"pattern": "echo", "role_right": {"3": 1}}])", 0,
       R"({"user": "alice", "group_value": {"1": 4294967296}})"},
  };
  RoleService service;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    service.reply(c.reply);
    Sandbox box;
    box.make_log_dir();
    box.settings(service.settings("http"));
    box.policy(policy_text(section(1, c.list, c.type_check), 0, kAllowingSection));
    const RunResult r = box.gate({"echo ran"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kRefusal);
    EXPECT_EQ(r.err.rfind("corvexin_check: ", 0), 0u) << r.err;
    EXPECT_EQ(box.log(), "echo ran\ncheck failed, skip cmd\n\n");
  }
}

}  // namespace

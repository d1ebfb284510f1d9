// "corvexin_policy test": verdicts of the gate's own decision code compared
// with a table of cases, the line a failing case gets, coverage of the white
// lists, and case files of a wrong shape. The shipped examples' case files
// are also decided with real role lookups, which must agree with them.
#include <gtest/gtest.h>
#include <json/reader.h>

#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"

namespace {

const char kPolicy[] = "/etc/policy-under-test.json";
const char kCases[] = "/etc/cases.json";

RunResult test(const Sandbox& box, const std::string& policy, const std::string& cases,
               const std::vector<std::string>& options = {}) {
  box.write(kPolicy, policy);
  box.write(kCases, cases);
  std::vector<std::string> argv = {policy_binary(), "test"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.insert(argv.end(), {kPolicy, kCases});
  return box.run(argv);
}

// An ancestor-check section whose first entry needs right 5 at level 3 and
// whose second allows by the match alone; the ui section allows "^ui$" to
// users with right 3 at level 2.
const std::string kMixed =
    policy_text(section(3, R"([{"pattern": "^runner$", "role_right": {"5": 3}},
                   {"pattern": "^cron$", "is_cookie_check": 0}])"),
                0, section(1, R"([{"pattern": "^ui$", "role_right": {"3": 2}}])"));

// One case (JSON members without "verdict"), expected to "allow": the verdict
// the tool reaches, and what its line tells when that is not "allow".
struct DecideCase {
  const char* what;
  std::string policy;
  std::string members;
  const char* actual;
  const char* told = "";
};

TEST(PolicyTest, DecidesEachCaseAsTheGate) {
  const DecideCase cases[] = {
      {"ancestor matches", kMixed, R"("command": "x", "ancestors": ["sh", "cron"])", "allow"},
      {"role-refused ancestor does not end the walk", kMixed,
       R"("command": "x", "ancestors": ["runner", "cron"],
          "role": {"user": "bob", "group_value": {"5": 1}})",
       "allow"},
      {"role-checked ancestor", kMixed,
       R"("command": "x", "ancestors": ["runner"], "role": {"user": "al", "group_value": {"5": 3}})",
       "allow"},
      {"no ancestors", kMixed, R"("command": "cron")", "refuse",
       "(scripts_section, method 3, no ancestors given; ui_section, method 1, no entry matched)"},
      {"no ancestor matches", kMixed, R"("command": "x", "ancestors": ["a", "b"])", "refuse",
       "scripts_section, method 3, no ancestor matched;"},
      {"ancestor without role", kMixed, R"("command": "x", "ancestors": ["runner"])", "undecided",
       "entry [0] on ancestor \"runner\", role check undecided: the case gives no \"role\""},
      {"role passes", kMixed, R"("command": "ui", "role": {"user": "al", "group_value": {"3": 2}})",
       "allow"},
      {"role refuses", kMixed,
       R"("command": "ui", "cookie": "s=1", "role": {"user": "bob", "group_value": {"3": 1}})",
       "refuse", "ui_section, method 1, entry [0], role check refused for user \"bob\")"},
      {"role without user", kMixed, R"("command": "ui", "role": {})", "refuse",
       "role check refused (no user)"},
      {"no role", kMixed, R"("command": "ui")", "undecided",
       "role check undecided: the case gives no \"role\""},
      {"policy does not load", "{", R"("command": "ui")", "refuse", "(the policy does not load)"},
      {"run ends", policy_text(section(1, R"([{"pattern": "^ui$", "role_right": {"3": "2"}}])")),
       R"("command": "ui", "role": {"user": "al"})", "refuse",
       "entry [0], a value cannot be converted ("},
  };
  for (const auto& c : cases) {
    Sandbox box;
    const RunResult r = test(box, c.policy, "[{" + c.members + R"(, "verdict": "allow"}])");
    const bool allowed = std::string(c.actual) == "allow";
    EXPECT_EQ(r.status, allowed ? 0 : 1) << c.what << "\n" << r.out << r.err;
    EXPECT_NE(r.out.find(allowed ? "1 passed, 0 failed" : "0 passed, 1 failed"), std::string::npos)
        << c.what << "\n"
        << r.out;
    if (allowed) continue;
    EXPECT_NE(r.out.find(std::string(": expected allow, got ") + c.actual + " ("),
              std::string::npos)
        << c.what << "\n"
        << r.out;
    EXPECT_NE(r.out.find(c.told), std::string::npos) << c.what << "\n" << r.out;
  }
}

TEST(PolicyTest, FailingCaseGetsItsLine) {
  Sandbox box;
  const RunResult r =
      test(box, kMixed,
           "// two cases\n[\n  {\"command\": \"cron\", \"verdict\": \"refuse\"},\n"
           "  {\"name\": \"ui for bob\", \"command\": \"ui\", \"verdict\": \"allow\",\n"
           "   \"role\": {\"user\": \"bob\", \"group_value\": {\"3\": 1}}}\n]\n");
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_EQ(r.out, std::string("FAIL ") + kCases +
                       ":4 \"ui for bob\": expected allow, got refuse (scripts_section, method 3, "
                       "no ancestors given; ui_section, method 1, entry [0], role check refused "
                       "for user \"bob\")\n1 passed, 1 failed\n");
}

TEST(PolicyTest, CoverageNamesUnreachedEntries) {
  Sandbox box;
  const std::string cases = R"([{"command": "x", "ancestors": ["cron"], "verdict": "allow"},
      {"command": "x", "ancestors": ["cron", "cron"], "verdict": "allow"}])";
  RunResult r = test(box, kMixed, cases, {"--coverage"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out,
            "$.scripts_section.white_cmd_list[1] \"^cron$\": 2 cases\n"
            "not reached: $.scripts_section.white_cmd_list[0] \"^runner$\"\n"
            "not reached: $.ui_section.white_cmd_list[0] \"^ui$\"\n"
            "coverage: 1 of 3 entries reached\n"
            "2 passed, 0 failed\n");
  r = test(box, kMixed, cases, {"--json", "--coverage"});
  Json::Value out;
  ASSERT_TRUE(Json::Reader().parse(r.out, out, false)) << r.out;
  EXPECT_EQ(out["passed"], 2);
  EXPECT_EQ(out["coverage"]["reached"], 1);
  EXPECT_EQ(out["coverage"]["entries"][0]["path"], "$.scripts_section.white_cmd_list[0]");
  EXPECT_EQ(out["coverage"]["entries"][0]["cases"], 0);
  EXPECT_EQ(out["coverage"]["entries"][1]["cases"], 2);
}

// Case files of a wrong shape, and files that cannot be read: exit status 2,
// each error at its place.
TEST(PolicyTest, WrongShapesAreReportedAtTheirPlace) {
  const struct {
    std::string cases;
    std::string error;
  } cases[] = {
      {R"({"command": "x"})", ":1:1: error: $: is an object, not an array of cases"},
      {"[\n {\"command\": \"x\", \"verdit\": \"allow\"}]",
       ":2:29: error: $[0].verdit: is no member of a case; did you mean \"verdict\"?"},
      {R"([{"command": "x"}])", ":1:2: error: $[0]: has no \"verdict\""},
      {R"([{"command": "x", "verdict": "allowed"}])",
       ":1:30: error: $[0].verdict: is neither \"allow\" nor \"refuse\""},
      {R"([{"command": 1, "verdict": "allow"}])", ":1:14: error: $[0].command: is a number"},
      {R"([{"command": "x", "verdict": "allow", "ancestors": ["a", null]}])",
       ":1:58: error: $[0].ancestors[1]: is null, not a string"},
      {R"([{"command": "a\u0000b", "verdict": "allow"}])",
       ":1:14: error: $[0].command: holds a NUL byte"},
      {R"([{"command": "x", "verdict": "allow"},])", ":1:39: error: Syntax error"},
  };
  for (const auto& c : cases) {
    Sandbox box;
    const RunResult r = test(box, kMixed, c.cases);
    EXPECT_EQ(r.status, 2) << c.cases;
    EXPECT_NE(r.out.find(kCases + c.error), std::string::npos) << c.cases << "\n" << r.out;
  }
  Sandbox box;
  box.write(kCases, "[]");
  EXPECT_EQ(box.run({policy_binary(), "test", "/etc/missing.json", kCases}).status, 2);
  EXPECT_EQ(box.run({policy_binary(), "test", kCases, "/etc/missing.json"}).status, 2);
  EXPECT_EQ(box.run({policy_binary(), "test", kCases}).status, 2);
  // A case file that opens but cannot be read (the tool's own memory at
  // address 0) is no empty file.
  const RunResult unreadable = box.run({policy_binary(), "test", kCases, "/proc/self/mem"});
  EXPECT_EQ(unreadable.status, 2);
  EXPECT_NE(unreadable.out.find("/proc/self/mem: error: cannot be read: Input/output error"),
            std::string::npos)
      << unreadable.out;
}

// The examples' case files pass, reach every entry, and expect what a real
// role lookup gives: explain (which agrees with the gate, see
// test_policy_explain) asks a role service that answers each case's "role".
// The gate itself is not asked, as it would run the allowed commands, reboot
// among them. Cases with ancestors are left out: explain's are real processes.
TEST(PolicyTest, ExamplesCasesHoldWithRealRoleLookups) {
  RoleService service;
  for (const char* name : {"cmd_check", "ancestor_check", "typed_roles"}) {
    const std::string examples = std::string(TESTS_DIR) + "/../examples/";
    Json::Value cases;
    ASSERT_TRUE(Json::Reader().parse(read_file(examples + name + ".cases.json"), cases, false));
    Sandbox box;
    box.settings(service.settings("http"));
    box.policy(read_file(examples + name + ".json"));
    RunResult r = box.run({policy_binary(), "test", "--coverage", examples + name + ".json",
                           examples + name + ".cases.json"});
    EXPECT_EQ(r.status, 0) << name << "\n" << r.out << r.err;
    EXPECT_EQ(r.out.find("not reached"), std::string::npos) << name << "\n" << r.out;
    for (const auto& c : cases) {
      if (c.isMember("ancestors")) continue;
      service.reply(c.isMember("role") ? c["role"].toStyledString() : "{}");
      const RunResult e = box.run({policy_binary(), "explain", "--", c["command"].asString()});
      EXPECT_EQ(e.status, c["verdict"] == "allow" ? 0 : 1)
          << name << ": " << c["command"].asString() << "\n"
          << e.out << e.err;
    }
  }
}

}  // namespace

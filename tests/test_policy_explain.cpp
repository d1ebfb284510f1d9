// "corvexin_policy explain" against the real gate: on every policy both are
// run on the same command, and the verdicts must agree. Explain must neither
// run the command nor write the gate's log.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"

namespace {

// The command both decide; when it runs it leaves /var/ran behind.
const char kCommand[] = "echo ran >/var/ran";

RunResult explain(const Sandbox& box, const std::vector<std::string>& options,
                  const std::string& command = kCommand) {
  std::vector<std::string> argv = {policy_binary(), "explain"};
  argv.insert(argv.end(), options.begin(), options.end());
  argv.push_back(command);
  return box.run(argv);
}

// Runs explain, then the gate, under one policy; explain's exit status must
// be the gate's verdict (0 ran, 1 refused), and explain must leave no trace.
// A cookie, when given, goes to both.
void expect_agreement(const Sandbox& box, const std::string& what, const std::string& cookie = "") {
  box.make_log_dir();
  RunResult e = explain(box, cookie.empty() ? std::vector<std::string>{}
                                            : std::vector<std::string>{"--cookie", cookie});
  EXPECT_FALSE(box.exists("/var/ran")) << what << ": explain ran the command";
  EXPECT_EQ(box.log(), "") << what << ": explain wrote the gate's log";
  RunResult g = box.gate(cookie.empty() ? std::vector<std::string>{kCommand}
                                        : std::vector<std::string>{kCommand, cookie});
  const bool ran = box.exists("/var/ran");
  EXPECT_EQ(g.status, ran ? 0 : 1) << what << g.out << g.err;
  EXPECT_EQ(e.status, ran ? 0 : 1) << what << "\n" << e.out << e.err;
  const std::string verdict = ran ? "verdict: allowed" : "verdict: refused";
  EXPECT_NE(e.out.find(verdict), std::string::npos) << what << "\n" << e.out;
}

const std::vector<std::string> kPolicies = {
    // Sections and methods.
    "{}",
    "null",
    R"({"enable_log": 1, "scripts_section": {"check_method": 0}})",
    R"({"scripts_section": {"check_method": 2}})",
    R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})",
    R"({"scripts_section": {"check_method": 7}, "ui_section": {"check_method": 0}})",
    R"({"scripts_section": {"check_method": 2.9}, "ui_section": {"check_method": 0.5}})",
    R"({"scripts_section": {"check_method": true}, "ui_section": {"check_method": 2}})",
    // White lists.
    policy_text(section(1, R"([{"pattern": "^echo ran", "is_cookie_check": 0}])")),
    policy_text(section(1, R"([{"pattern": "^ls$", "is_cookie_check": 0}])")),
    policy_text(section(1, R"([{"pattern": "[", "is_cookie_check": 0},
                               {"pattern": "ran", "is_cookie_check": 0}])")),
    policy_text(section(1, R"([null])"), 0, kRefusingSection),
    policy_text(section(1, R"([{"pattern": "^x$"}])"), 1, kAllowingSection),
    policy_text(section(1, R"([{"pattern": "echo", "type": 0}])", 1)),
    policy_text(section(1, "[]"), 1,
                section(1, R"([{"pattern": "/var/ran$", "is_cookie_check": 0}])")),
    // Values that end the gate's run.
    "[]",
    R"({"enable_log": "1"})",
    R"({"scripts_section": {"check_method": "0"}})",
    R"({"scripts_section": 3, "ui_section": null})",
    policy_text(section(1, R"({"pattern": "x"})"), 0, kAllowingSection),
    policy_text(section(1, R"(["echo"])"), 0, kAllowingSection),
    policy_text(section(1, R"([{"pattern": "echo", "is_cookie_check": 0, "type": "one"}])", 1), 0,
                kAllowingSection),
    // Read otherwise than they look: "-" is 0, a NUL ends the pattern, a
    // stray "}" makes the policy not load.
    R"({"scripts_section": {"check_method": -}, "ui_section": {"check_method": 2}})",
    policy_text(section(1, R"([{"pattern": "^echo\u0000 never$", "is_cookie_check": 0}])")),
    R"({"scripts_section": {"check_method": 2}}, "ui_section": {"check_method": 2}})",
    // Not loadable.
    "{",
    "",
    // The ancestor check: the gate's parent and explain's are both this test.
    policy_text(section(3, R"([{"pattern": "test_policy_explain", "is_cookie_check": 0}])")),
    policy_text(section(3, R"([{"pattern": "^no such ancestor$", "is_cookie_check": 0}])")),
    policy_text(section(3, R"([{"pattern": "test_policy_explain", "role_right": {"5": 1}}])")),
};

TEST(PolicyExplain, AgreesWithTheGate) {
  for (const auto& policy : kPolicies) {
    Sandbox box;
    box.policy(policy);
    expect_agreement(box, policy);
  }
}

// Every example policy, with a role service that answers for the internal
// administrator: explain's verdict is the real gate's on each command.
TEST(PolicyExplain, ExamplesAgreeWithTheGate) {
  RoleService service;
  service.reply(R"({"user": "admin"})");
  for (const char* name : {"cmd_check.json", "ancestor_check.json", "typed_roles.json"}) {
    Sandbox box;
    box.settings(service.settings("http"));
    box.policy(read_file(std::string(TESTS_DIR) + "/../examples/" + name));
    for (const char* command : {"uptime", "date", "hostname", "df -h", "cat /etc/shadow"}) {
      RunResult e = explain(box, {}, command);
      RunResult g = box.gate({command});
      const bool ran = g.out.find(kRefusal) == std::string::npos;
      EXPECT_EQ(e.status, ran ? 0 : 1) << name << ": " << command << "\n" << e.out << g.out;
    }
  }
}

// The ancestor check's record: which ancestor's command line matched, and
// why the match alone allowed.
TEST(PolicyExplain, TellsWhichAncestorMatched) {
  Sandbox box;
  box.policy(policy_text(section(3, R"([{"pattern": "^no$", "is_cookie_check": 0},
      {"pattern": "test_policy_explain", "is_cookie_check": 0}])")));
  RunResult r = explain(box, {"--json"});
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  Json::Value out;
  ASSERT_TRUE(Json::Reader().parse(r.out, out, false)) << r.out;
  const Json::Value& steps = out["sections"][0]["steps"];
  EXPECT_EQ(out["format"], 1);
  ASSERT_EQ(steps.size(), 3u) << out;
  EXPECT_EQ(steps[0]["step"], "ancestor");
  EXPECT_NE(steps[0]["command_line"].asString().find("test_policy_explain"), std::string::npos);
  EXPECT_EQ(steps[2]["index"], 1);
  EXPECT_EQ(steps[2]["result"], "match");
  EXPECT_EQ(steps[2]["why"], "its \"is_cookie_check\" is 0");
}

TEST(PolicyExplain, PolicyFromAnotherFile) {
  Sandbox box;
  box.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
  box.write("/etc/other.json", "{}");
  EXPECT_EQ(explain(box, {"--policy", "/etc/other.json"}).status, 0);
  EXPECT_EQ(explain(box, {}).status, 1);
  // A file that cannot be opened: one error, with the system's reason.
  RunResult missing = explain(box, {"--policy", "/etc/missing.json"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.err,
            "corvexin_policy: /etc/missing.json cannot be opened: No such file or "
            "directory\n");
}

// Without settings the gate makes no role lookup; explain says so, in its
// own name, and agrees with the gate.
TEST(PolicyExplain, NoSettingsSkipsTheLookup) {
  Sandbox box;
  box.policy(policy_text(section(1, R"([{"pattern": "^echo", "role_right": {"3": 2}}])")));
  expect_agreement(box, "no settings");
  RunResult r = explain(box, {});
  EXPECT_NE(r.out.find(": role lookup skipped: no settings, the check refuses\n"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.err.rfind("corvexin_policy: /etc/kelvo/halvora.ini gives no [http]", 0), 0u) << r.err;
  EXPECT_EQ(r.err.find("corvexin_check"), std::string::npos) << r.err;
}

// Role-checked entries, decided by a real role service: the entry demands
// level 2 in category 3.
struct RoleCase {
  const char* reply;
  bool allowed;
};

TEST(PolicyExplain, RoleCheckedEntriesAgreeWithTheGate) {
  const RoleCase cases[] = {
      {R"({"user": "alice", "group_value": {"3": 2}})", true},
      {R"({"user": "alice", "group_value": {"3": 1}})", false},
      {R"({"user": "admin"})", true},
      {R"({"user": ""})", false},
      {"not json", false},
  };
  for (const auto& c : cases) {
    for (auto protocol : {RoleService::kHttp, RoleService::kHttps}) {
      RoleService service(protocol);
      service.reply(c.reply);
      Sandbox box;
      box.settings(service.settings(protocol == RoleService::kHttps ? "https" : "http"));
      box.policy(policy_text(section(1, R"([{"pattern": "^echo", "role_right": {"3": 2}}])")));
      expect_agreement(box, c.reply, "session=secret-cookie");
      // One lookup each, with the same cookie.
      const auto requests = service.requests();
      ASSERT_EQ(requests.size(), 2u) << c.reply;
      EXPECT_EQ(requests[0].values("Cookie"), requests[1].values("Cookie"));
      EXPECT_EQ(requests[0].values("Cookie"), std::vector<std::string>{"session=secret-cookie"});
    }
  }
}

TEST(PolicyExplain, TellsThePathOfARoleCheckedDecision) {
  RoleService service;
  service.reply(R"({"user": "alice", "group_value": {"3": 1}})");
  Sandbox box;
  box.settings(service.settings("http"));
  box.policy(policy_text(section(1, R"([{"pattern": "^ls$", "is_cookie_check": 0},
                                        {"pattern": "^echo", "role_right": {"3": 2}}])"),
                         1));
  RunResult r = explain(box, {"--json", "--cookie", "session=secret-cookie"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.find("secret-cookie"), std::string::npos) << "the cookie was printed";
  EXPECT_EQ(r.err.find("secret-cookie"), std::string::npos) << "the cookie was printed";
  Json::Value out;
  ASSERT_TRUE(Json::Reader().parse(r.out, out, false)) << r.out;
  EXPECT_EQ(out["verdict"], "refused");
  ASSERT_EQ(out["sections"].size(), 2u);
  const Json::Value& scripts = out["sections"][0];
  EXPECT_EQ(scripts["method"], 1);
  EXPECT_EQ(scripts["result"], "refuses");
  const Json::Value& steps = scripts["steps"];
  ASSERT_EQ(steps.size(), 4u) << out;
  EXPECT_EQ(steps[0]["result"], "no match");
  EXPECT_EQ(steps[1]["index"], 1);
  EXPECT_EQ(steps[1]["result"], "match");
  EXPECT_EQ(steps[2]["step"], "role_lookup");
  EXPECT_EQ(steps[2]["made"], true);
  EXPECT_EQ(steps[2]["role_right"]["3"], 2);
  EXPECT_EQ(steps[3]["step"], "role_check");
  EXPECT_EQ(steps[3]["user"], "alice");
  EXPECT_EQ(steps[3]["result"], "refused");
  EXPECT_EQ(out["sections"][1]["result"], "refuses");
  EXPECT_EQ(service.requests().size(), 1u);
}

TEST(PolicyExplain, NoLookupStopsBeforeTheRequest) {
  RoleService service;
  service.reply(R"({"user": "admin"})");
  Sandbox box;
  box.settings(service.settings("http"));
  const std::string list = R"([{"pattern": "^echo", "role_right": {"3": 2}}])";
  box.policy(policy_text(section(1, list)));
  RunResult r = explain(box, {"--no-lookup"});
  EXPECT_EQ(r.status, 3) << r.out << r.err;
  EXPECT_NE(r.out.find("no role lookup made (--no-lookup)"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("verdict: undecided"), std::string::npos) << r.out;
  // The ui section settles what the stopped scripts section left open.
  box.policy(policy_text(section(1, list), 0, kAllowingSection));
  EXPECT_EQ(explain(box, {"--no-lookup"}).status, 0);
  EXPECT_EQ(service.requests().size(), 0u);
}

TEST(PolicyExplain, UsageErrors) {
  Sandbox box;
  EXPECT_EQ(box.run({policy_binary(), "explain"}).status, 2);
  EXPECT_EQ(box.run({policy_binary(), "explain", "--cookie"}).status, 2);
  EXPECT_EQ(box.run({policy_binary(), "explain", "a", "b"}).status, 2);
  EXPECT_EQ(box.run({policy_binary(), "explain", "--frobnicate", "a"}).status, 2);
  RunResult help = box.run({policy_binary(), "explain", "a", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: corvexin_policy explain ", 0), 0u) << help.out;
  // After "--" a command may begin with a dash.
  box.policy("{}");
  EXPECT_EQ(box.run({policy_binary(), "explain", "--", "-x"}).status, 0);
}

}  // namespace

// "corvexin_policy suggest" on a log made by the real gate: every entry it
// suggests passes "check" without a warning and, fed back through "explain",
// allows its own command and nothing else; command lines that no entry
// should allow are listed with a warning instead.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>

#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"

namespace {

RunResult policy_tool(const Sandbox& box, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {policy_binary()};
  argv.insert(argv.end(), args.begin(), args.end());
  return box.run(argv);
}

Json::Value parsed(const std::string& text) {
  Json::Value value;
  Json::Reader().parse(text, value, false);
  return value;
}

TEST(PolicySuggest, EntriesAllowExactlyTheRefusedCommands) {
  Sandbox box;
  box.make_log_dir();
  // The log also holds what is no refusal: an allowed command traced, and a
  // policy that did not load.
  box.policy(R"({"enable_log": 1})");
  box.gate({"uptime"});
  box.policy("{");
  box.gate({"uptime"});
  box.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
  // Every byte that basic syntax gives a meaning, and the ones that are
  // literal there unless a backslash precedes them.
  const std::vector<std::string> suggested = {
      "systemctl restart nginx",
      R"(grep -c '^a.b*[c]] \ {1} x+? (y)' "/var/log/x.log")",
      "caf\xc3\xa9 --now",
      "check failed, skip cmd",
  };
  const std::vector<std::pair<std::string, std::string>> warned = {
      {"ls; id", "shell-metachar"},
      {"echo a\nid", "control-byte"},
      {"echo a\xc2\x9b"
       "2J",
       "control-byte"},
      {std::string(5000, 'x'), "cut-in-log"},
  };
  for (const auto& command : suggested) box.gate({command});
  for (const auto& [command, code] : warned) box.gate({command});
  box.gate({suggested[0]});
  box.gate({suggested[0]});

  const RunResult json = policy_tool(box, {"suggest", "--json"});
  EXPECT_EQ(json.status, 1) << json.err;
  const Json::Value entries = parsed(json.out);
  ASSERT_EQ(entries.size(), suggested.size()) << json.out;
  for (const auto& [command, code] : warned)
    EXPECT_NE(json.err.find("[" + code + "]"), std::string::npos) << json.err;
  EXPECT_NE(json.err.find("[policy-not-loaded]"), std::string::npos) << json.err;

  const RunResult text = policy_tool(box, {"suggest"});
  EXPECT_EQ(text.status, 1);
  for (const char* line :
       {"refused 3 times (first at line 6): \"systemctl restart nginx\"\n"
        "  {\"pattern\": \"^systemctl restart nginx$\", \"is_cookie_check\": 1, \"type\": 1, "
        "\"role_right\": {\"1\": 2147483647}}\n",
        "refused 1 time (first at line 21): \"echo a\\\\x0aid\"\n  warning: holds a control byte",
        "refused 1 time (first at line 4): the policy did not load",
        ": 10 refusals of 8 command lines, 4 entries suggested, 4 without\n"}) {
    EXPECT_NE(text.out.find(line), std::string::npos) << line << "\n" << text.out;
  }

  // The entries, pasted into a white list that checks types, raise nothing.
  Json::Value policy;
  policy["scripts_section"]["check_method"] = 1;
  policy["scripts_section"]["is_type_check"] = 1;
  policy["scripts_section"]["white_cmd_list"] = entries;
  policy["ui_section"]["check_method"] = 2;
  box.write("/etc/suggested.json", Json::writeString(Json::StreamWriterBuilder(), policy));
  const RunResult checked = policy_tool(box, {"check", "/etc/suggested.json"});
  EXPECT_EQ(checked.status, 0) << checked.out;
  EXPECT_NE(checked.out.find("no findings"), std::string::npos) << checked.out;

  // Each entry allows its own command (the service answers for the internal
  // administrator, whom every role check passes) and no other.
  RoleService service;
  service.reply(R"({"user": "admin"})");
  box.settings(service.settings("http"));
  for (size_t i = 0; i < suggested.size(); ++i) {
    const std::string& command = suggested[i];
    SCOPED_TRACE(command);
    const RunResult allowed =
        policy_tool(box, {"explain", "--json", "--policy", "/etc/suggested.json", command});
    EXPECT_EQ(allowed.status, 0) << allowed.out << allowed.err;
    const Json::Value steps = parsed(allowed.out)["sections"][0]["steps"];
    ASSERT_GT(steps.size(), i);
    EXPECT_EQ(steps[static_cast<Json::ArrayIndex>(i)]["result"], "match") << allowed.out;
    for (const std::string& other : {command + "; id", "x" + command, command.substr(1),
                                     command.substr(0, command.size() - 1), command + "\n"}) {
      const RunResult refused =
          policy_tool(box, {"explain", "--policy", "/etc/suggested.json", "--", other});
      EXPECT_EQ(refused.status, 1) << other << "\n" << refused.out;
    }
  }

  // A command that an entry of the installed policy matches already was
  // refused by its role check: no second entry for it.
  box.policy(policy_text(kRefusingSection, 0,
                         section(1, R"([{"pattern": "^systemctl restart \\(nginx\\|ssh\\)$",
                                         "role_right": {"5": 3}}])")));
  const RunResult known = policy_tool(box, {"suggest", "--json"});
  EXPECT_EQ(parsed(known.out).size(), suggested.size() - 1) << known.out;
  EXPECT_NE(
      known.err.find("is matched by $.ui_section.white_cmd_list[0] of /etc/cmd_check.json already"),
      std::string::npos)
      << known.err;
}

// A suggested entry that check would warn about comes with that warning.
TEST(PolicySuggest, ShowsWhatCheckWouldSay) {
  Sandbox box;
  box.make_log_dir();
  box.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
  box.gate({"tar czf /var/backups/www.tgz *"});
  const RunResult text = policy_tool(box, {"suggest"});
  EXPECT_EQ(text.status, 1) << text.out << text.err;
  EXPECT_NE(text.out.find("  {\"pattern\": \"^tar czf /var/backups/www\\\\.tgz \\\\*$\""),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("  warning: the suggested \"^tar czf /var/backups/www\\\\.tgz "
                          "\\\\*$\" admits \"*\""),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("(for example \"tar czf /var/backups/www.tgz *\") [glob-option]\n"),
            std::string::npos)
      << text.out;

  // Risks that the proposal's fixed text spells itself; each with a twin
  // that has none.
  const struct {
    const char* command;
    const char* code;
    bool risky;
  } kCases[] = {
      {"cat /etc/shadow", "secret-file", true},
      {"cat /etc/hostname", "secret-file", false},
      {"dpkg -i /tmp/agent.deb", "package-file", true},
      {"apt-get install -y nginx", "package-file", false},
  };
  for (const auto& c : kCases) {
    Sandbox one;
    one.make_log_dir();
    one.policy(R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2}})");
    one.gate({c.command});
    const RunResult said = policy_tool(one, {"suggest"});
    EXPECT_EQ(said.status, c.risky ? 1 : 0) << c.command << "\n" << said.out;
    EXPECT_EQ(said.out.find("(for example \"" + std::string(c.command) + "\") [" + c.code +
                            "]\n") != std::string::npos,
              c.risky)
        << said.out;
  }
}

TEST(PolicySuggest, UnreadableLogAndUsage) {
  Sandbox box;
  const RunResult missing = policy_tool(box, {"suggest"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(
      missing.out.find("/var/varn/log/corvexin_check.log: error: cannot be read: No such file"),
      std::string::npos)
      << missing.out;
  EXPECT_EQ(policy_tool(box, {"suggest", "extra"}).status, 2);
  EXPECT_EQ(policy_tool(box, {"suggest", "--log"}).status, 2);
}

}  // namespace

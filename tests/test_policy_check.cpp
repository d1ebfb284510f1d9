// "corvexin_policy check": each finding class on a policy that has it, none on
// a clean one, the exit statuses, and agreement with the real gate on which
// values end a gate run.
#include <gtest/gtest.h>
#include <json/reader.h>
#include <json/writer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"
#include "vocabulary.h"
#include "white_list.h"

namespace {

const char kUnderTest[] = "/etc/policy-under-test.json";

struct Checked {
  RunResult run;
  Json::Value report;
  // True when a finding of that code is reported at that JSON path.
  bool has(const std::string& code, const std::string& path) const {
    for (const auto& f : report["findings"]) {
      if (f["code"] == code && f["path"].asString() == path) return true;
    }
    return false;
  }
  bool has_file(const std::string& code, const std::string& file) const {
    for (const auto& f : report["findings"]) {
      if (f["code"] == code && f["file"].asString() == file && !f.isMember("path")) return true;
    }
    return false;
  }
};

Checked check(const Sandbox& box, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {policy_binary(), "check", "--json"};
  argv.insert(argv.end(), args.begin(), args.end());
  Checked c{box.run(argv), Json::Value()};
  Json::Reader().parse(c.run.out, c.report, false);
  return c;
}

Checked check_text(const std::string& policy) {
  Sandbox box;
  box.write(kUnderTest, policy);
  return check(box, {kUnderTest});
}

// A clean policy: anchored patterns without room for the shell, role checks
// that can grant, both sections present.
const char kClean[] = R"({
  "enable_log": 0,
  // comments are allowed, as the gate allows them
  "scripts_section": {
    "check_method": 1,
    "white_cmd_list": [
      {"pattern": "^uptime$", "is_cookie_check": 0},
      {"pattern": "^ls -l /var/log/[a-z0-9_]*\\.log$", "is_cookie_check": 0},
      {"pattern": "^systemctl restart \\(nginx\\|ssh\\)$", "role_right": {"2": 1}}
    ]
  },
  "ui_section": {
    "check_method": 1,
    "is_type_check": 1,
    "white_cmd_list": [{"pattern": "^hostname$", "type": 1, "role_right": {"3": 2}},
                       {"pattern": "^date$", "type": 0}]
  }
})";

TEST(PolicyCheck, CleanPolicyHasNoFinding) {
  Checked c = check_text(kClean);
  EXPECT_EQ(c.run.status, 0) << c.run.out << c.run.err;
  EXPECT_EQ(c.report["findings"].size(), 0u) << c.run.out;
  EXPECT_EQ(c.report["status"], 0);
  EXPECT_EQ(c.report["format"], 1);
}

// An administrator may install every example as it stands: no error, no
// warning (the ancestor example's role check earns it a note).
TEST(PolicyCheck, ExamplesAreClean) {
  for (const char* name : {"cmd_check.json", "ancestor_check.json", "typed_roles.json"}) {
    Sandbox box;
    box.write(kUnderTest, read_file(std::string(TESTS_DIR) + "/../examples/" + name));
    Checked c = check(box, {kUnderTest});
    EXPECT_EQ(c.run.status, 0) << name << ": " << c.run.out;
    EXPECT_EQ(c.report["warnings"], 0) << name << ": " << c.run.out;
  }
}

// One finding each, at its JSON path; ends_run: the real gate's run ends on
// `command` under this policy (installed, ui section allowing).
struct FindingCase {
  const char* name;
  std::string policy;
  const char* code;
  const char* path;
  int status;  // of the check
  bool ends_run = false;
  const char* command = "echo ran";
  const char* reply = nullptr;    // a role service answers this, when given
  bool absent = false;            // the finding must not be reported (a near-safe twin)
  const char* example = nullptr;  // the finding's example, when it matters
};

std::string scripts(const std::string& section_text) {
  return R"({"scripts_section": )" + section_text + R"(, "ui_section": {"check_method": 2}})";
}

std::string list(const std::string& entries) {
  return scripts(section(1, "[" + entries + "]"));
}

class Findings : public ::testing::TestWithParam<FindingCase> {};

TEST_P(Findings, ReportedAtTheirPlace) {
  const FindingCase& c = GetParam();
  Checked checked = check_text(c.policy);
  EXPECT_EQ(checked.has(c.code, c.path), !c.absent) << checked.run.out << checked.run.err;
  EXPECT_EQ(checked.run.status, c.status) << checked.run.out;
  if (c.example != nullptr) {
    bool shown = false;
    for (const auto& f : checked.report["findings"])
      shown = shown || (f["code"] == c.code && f["example"] == c.example);
    EXPECT_TRUE(shown) << checked.run.out;
  }
  // A finding's example is a command line that the gate's matcher allows.
  Json::Value written;
  ASSERT_TRUE(Json::Reader().parse(c.policy, written, false));
  for (const auto& f : checked.report["findings"]) {
    if (!f.isMember("example")) continue;
    const std::string pattern =
        written["scripts_section"]["white_cmd_list"][0]["pattern"].asString();
    EXPECT_EQ(check_regexp(f["example"].asCString(), pattern.c_str()), 0) << f;
  }

  // The gate agrees on whether the value ends its run. With the ui section
  // allowing every command, the gate refuses only when its run ends.
  Json::Value policy;
  ASSERT_TRUE(Json::Reader().parse(c.policy, policy, false));
  if (policy.isObject()) policy["ui_section"] = Json::Value();
  Sandbox box;
  box.make_log_dir();
  box.policy(policy.toStyledString());
  std::unique_ptr<RoleService> service;
  if (c.reply != nullptr) {
    service = std::make_unique<RoleService>();
    service->reply(c.reply);
    box.settings(service->settings("http"));
  }
  RunResult gate = box.gate({c.command});
  EXPECT_EQ(gate.status == 1, c.ends_run) << gate.out << gate.err;
  if (c.ends_run) {
    EXPECT_NE(gate.err.find("corvexin_check: "), std::string::npos) << gate.err;
  }
}

const std::string kNoRole = R"("is_cookie_check": 0)";

INSTANTIATE_TEST_SUITE_P(
    Cases, Findings,
    ::testing::Values(
        // Values that end a gate run.
        FindingCase{"RootNotObject", "[]", "run-ends", "$", 2, true},
        FindingCase{"EnableLogString",
                    R"({"enable_log": "yes", "scripts_section": {"check_method": 2}})", "run-ends",
                    "$.enable_log", 2, true},
        FindingCase{"SyslogString", R"({"syslog": "off", "scripts_section": {"check_method": 2}})",
                    "run-ends", "$.syslog", 2, true},
        FindingCase{"SyslogOff", R"({"syslog": 0, "scripts_section": {"check_method": 2},
                                   "ui_section": {"check_method": 2}})",
                    "no-syslog", "$.syslog", 0},
        FindingCase{"ServiceUserUnknown", R"({"role_service_user": "no such account",
                                            "scripts_section": {"check_method": 2},
                                            "ui_section": {"check_method": 2}})",
                    "no-service-user", "$.role_service_user", 1},
        FindingCase{"ServiceUserShared", R"({"role_service_user": "nobody",
                                           "scripts_section": {"check_method": 2},
                                           "ui_section": {"check_method": 2}})",
                    "weak-service-user", "$.role_service_user", 1},
        FindingCase{"ServiceUserOfItsOwn", R"({"role_service_user": "backup",
                                             "scripts_section": {"check_method": 2},
                                             "ui_section": {"check_method": 2}})",
                    "weak-service-user", "$.role_service_user", 0, false, "echo ran", nullptr,
                    true},
        FindingCase{"SectionArray", R"({"scripts_section": [], "ui_section": {"check_method": 2}})",
                    "run-ends", "$.scripts_section", 2, true},
        FindingCase{"MethodString", scripts(R"({"check_method": "1"})"), "run-ends",
                    "$.scripts_section.check_method", 2, true},
        FindingCase{"NegativeCookieCheck", scripts(R"({"check_method": 2, "is_cookie_check": -1})"),
                    "run-ends", "$.scripts_section.is_cookie_check", 2, true},
        FindingCase{"TypeCheckObject", scripts(R"({"check_method": 2, "is_type_check": {}})"),
                    "run-ends", "$.scripts_section.is_type_check", 2, true},
        FindingCase{"ListObjectWithMembers",
                    scripts(R"({"check_method": 1, "white_cmd_list": {"pattern": "x"}})"),
                    "run-ends", "$.scripts_section.white_cmd_list", 2, true},
        FindingCase{"EntryString", list(R"("^echo ran$")"), "run-ends",
                    "$.scripts_section.white_cmd_list[0]", 2, true},
        FindingCase{"PatternArray", list(R"({"pattern": ["x"]})"), "run-ends",
                    "$.scripts_section.white_cmd_list[0].pattern", 2, true},
        FindingCase{"CookieFlagString", list(R"({"pattern": "^x$", "is_cookie_check": "0"})"),
                    "run-ends", "$.scripts_section.white_cmd_list[0].is_cookie_check", 2, true},
        FindingCase{
            "TypeString",
            scripts(section(1, R"([{"pattern": "^echo ran$", "type": "1", "is_cookie_check": 0}])",
                            1)),
            "run-ends", "$.scripts_section.white_cmd_list[0].type", 2, true},
        FindingCase{"RoleRightArray", list(R"({"pattern": "^echo ran$", "role_right": [1]})"),
                    "run-ends", "$.scripts_section.white_cmd_list[0].role_right", 2, true,
                    "echo ran", R"({"user": "alice"})"},
        FindingCase{"LevelString", list(R"({"pattern": "^echo ran$", "role_right": {"2": "1"}})"),
                    "run-ends", "$.scripts_section.white_cmd_list[0].role_right[\"2\"]", 2, true,
                    "echo ran", R"({"user": "alice", "group_value": {"1": 5}})"},
        // Patterns that do not compile never match.
        FindingCase{"BadPattern", list(R"({"pattern": "^echo [$", )" + kNoRole + "}"),
                    "bad-pattern", "$.scripts_section.white_cmd_list[0].pattern", 2},
        // Members the gate ignores, and methods it does not know.
        FindingCase{"MisspeltMethod",
                    R"({"scripts_section": {"check_methd": 2}, "ui_section": {"check_method": 2}})",
                    "ignored-member", "$.scripts_section.check_methd", 2},
        FindingCase{"MisspeltList", scripts(R"({"check_method": 1, "white_cmd_lst": []})"),
                    "ignored-member", "$.scripts_section.white_cmd_lst", 1},
        FindingCase{"UnknownTopLevel", R"({"enable_logs": 1, "scripts_section": {"check_method": 2},
                                         "ui_section": {"check_method": 2}})",
                    "ignored-member", "$.enable_logs", 1},
        FindingCase{"RightCategorySix",
                    list(R"({"pattern": "^x$", "role_right": {"3": 1, "6": 1}})"), "ignored-member",
                    "$.scripts_section.white_cmd_list[0].role_right[\"6\"]", 1},
        FindingCase{"RoleRightWithoutRoleCheck",
                    list(R"({"pattern": "^x$", "is_cookie_check": 0, "role_right": {"1": 1}})"),
                    "ignored-member", "$.scripts_section.white_cmd_list[0].role_right", 1},
        FindingCase{"RepeatedMember",
                    R"({"scripts_section": {"check_method": 2, /* "x": { */ "check_method": 2},
                        "ui_section": {"check_method": 1,
                          "white_cmd_list": [{"pattern": "^x$", "is_cookie_check": 0},
                          {"pattern": "^y$", "pattern": "^z$", "is_cookie_check": 0}]}})",
                    "repeated-member", "$.ui_section.white_cmd_list[1].pattern", 1},
        FindingCase{"BlackListNeverRead",
                    scripts(R"({"check_method": 2, "black_cmd_list": ["rm"]})"), "ignored-member",
                    "$.scripts_section.black_cmd_list", 1},
        FindingCase{"UnknownMethod", scripts(R"({"check_method": 7})"), "unknown-method",
                    "$.scripts_section.check_method", 1},
        // Sections that let everything through, or nothing.
        // Left out by accident they are errors; written out, warnings.
        FindingCase{"MissingScripts", R"({"ui_section": {"check_method": 2}})",
                    "allows-by-omission", "$.scripts_section", 2},
        FindingCase{"MissingUi", R"({"scripts_section": {"check_method": 2}})",
                    "allows-by-omission", "$.ui_section", 2},
        FindingCase{
            "MisspeltSection",
            R"({"scripts_sectoin": {"check_method": 2}, "ui_section": {"check_method": 2}})",
            "allows-by-omission", "$.scripts_section", 2},
        FindingCase{"NoCheckMethod", scripts(R"({"white_cmd_list": []})"), "allows-by-omission",
                    "$.scripts_section.check_method", 2},
        FindingCase{"NullUi", R"({"scripts_section": {"check_method": 2}, "ui_section": null})",
                    "allows-everything", "$.ui_section", 1},
        FindingCase{"MethodZero", scripts(R"({"check_method": 0})"), "allows-everything",
                    "$.scripts_section.check_method", 1},
        FindingCase{"MethodZeroIsNoOmission", scripts(R"({"check_method": 0})"),
                    "allows-by-omission", "$.scripts_section.check_method", 1, false, "echo ran",
                    nullptr, true},
        FindingCase{
            "UiNeverConsulted",
            R"({"scripts_section": {"check_method": 0}, "ui_section": {"check_method": 2}})",
            "never-consulted", "$.ui_section", 1},
        FindingCase{"EmptyList", scripts(R"({"check_method": 1, "white_cmd_list": []})"),
                    "no-entries", "$.scripts_section.white_cmd_list", 1},
        FindingCase{"ListString", scripts(R"({"check_method": 3, "white_cmd_list": "x"})"),
                    "no-entries", "$.scripts_section.white_cmd_list", 1},
        // What a reviewer needs to see in method 1.
        FindingCase{"Unanchored", list(R"({"pattern": "^echo", )" + kNoRole + "}"), "not-anchored",
                    "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"UnanchoredAlternative", list(R"({"pattern": "^ls$\\|^cat", )" + kNoRole + "}"),
                    "not-anchored", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"EscapedDollarIsNoAnchor", list(R"({"pattern": "^echo \\$", )" + kNoRole + "}"),
                    "not-anchored", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"DotAdmitsEverything", list(R"({"pattern": "^cat .*$", )" + kNoRole + "}"),
                    "shell-metachar", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"NegatedBracket", list(R"({"pattern": "^du -sh [^ ]*$", )" + kNoRole + "}"),
                    "shell-metachar", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"WhitespaceClassAdmitsNewline",
                    list(R"({"pattern": "^ls\\s-l$", )" + kNoRole + "}"), "shell-metachar",
                    "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{
            "AfterEmptyPattern",
            list(
                R"({"pattern": "", "is_cookie_check": 0}, {"pattern": "^x$", "is_cookie_check": 0})"),
            "unreachable", "$.scripts_section.white_cmd_list[1]", 1},
        FindingCase{
            "AfterDotStar",
            scripts(section(3, R"([{"pattern": ".*", "is_cookie_check": 0}, {"pattern": "x"}])")),
            "unreachable", "$.scripts_section.white_cmd_list[1]", 1},
        FindingCase{"AfterNullEntry", list(R"(null, {"pattern": "^x$", "is_cookie_check": 0})"),
                    "unreachable", "$.scripts_section.white_cmd_list[1]", 1},
        FindingCase{
            "SamePatternTwice",
            list(
                R"({"pattern": "^x$", "role_right": {"1": 1}}, {"pattern": "^x$", "is_cookie_check": 0})"),
            "unreachable", "$.scripts_section.white_cmd_list[1]", 1},
        // What an entry lets run, proved on its language, each with its twin.
        FindingCase{"FixedSemicolonIsMeant",
                    list(R"({"pattern": "^cd /srv; ls$", )" + kNoRole + "}"), "shell-metachar",
                    "$.scripts_section.white_cmd_list[0].pattern", 0, false, "echo ran", nullptr,
                    true},
        FindingCase{
            "PathClimb",
            list(R"({"pattern": "^head -n 20 /srv/reports/[a-z0-9_./]*$", )" + kNoRole + "}"),
            "path-climb", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{
            "NoPathClimb",
            list(R"({"pattern": "^head -n 20 /srv/reports/[a-z0-9_]*\\.txt$", )" + kNoRole + "}"),
            "path-climb", "$.scripts_section.white_cmd_list[0].pattern", 0, false, "echo ran",
            nullptr, true},
        FindingCase{"RiskyOption",
                    list(R"({"pattern": "^wget -q [-a-zA-Z0-9:/. ]*$", )" + kNoRole + "}"),
                    "risky-option", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"NoRiskyOption",
                    list(R"({"pattern": "^wget -q http://h/[a-z0-9]*$", )" + kNoRole + "}"),
                    "risky-option", "$.scripts_section.white_cmd_list[0].pattern", 0, false,
                    "echo ran", nullptr, true},
        FindingCase{"NamesProgram", list(R"({"pattern": "^stdbuf -oL [a-z/]*$", )" + kNoRole + "}"),
                    "names-program", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{
            "NamesNoProgram",
            list(R"({"pattern": "^stdbuf -oL /opt/tools/report [a-z]*$", )" + kNoRole + "}"),
            "names-program", "$.scripts_section.white_cmd_list[0].pattern", 0, false, "echo ran",
            nullptr, true},
        FindingCase{
            "CommentCutsTail",
            list(R"({"pattern": "^/opt/tools/sync [-a-z0-9#/ ]* --verify$", )" + kNoRole + "}"),
            "comment", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{
            "NoComment",
            list(R"({"pattern": "^/opt/tools/sync [-a-z0-9 ]* --verify$", )" + kNoRole + "}"),
            "comment", "$.scripts_section.white_cmd_list[0].pattern", 0, false, "echo ran", nullptr,
            true},
        FindingCase{"GlobBecomesOption",
                    list(R"({"pattern": "^tar czf /var/backups/www\\.tgz \\*$", )" + kNoRole + "}"),
                    "glob-option", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{
            "QuotedGlob",
            list(R"({"pattern": "^tar czf /var/backups/www\\.tgz '\\*'$", )" + kNoRole + "}"),
            "glob", "$.scripts_section.white_cmd_list[0].pattern", 0, false, "echo ran", nullptr,
            true},
        FindingCase{"Interactive", list(R"({"pattern": "^crontab -[el]$", )" + kNoRole + "}"),
                    "interactive", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"NotInteractive", list(R"({"pattern": "^crontab -l$", )" + kNoRole + "}"),
                    "interactive", "$.scripts_section.white_cmd_list[0].pattern", 0, false,
                    "echo ran", nullptr, true},
        FindingCase{
            "PackageFromUpload",
            list(R"({"pattern": "^/usr/bin/dpkg -i /var/www/uploads/[a-z0-9_.-]*\\.deb$", )" +
                 kNoRole + "}"),
            "package-file", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"PackageFromArchive",
                    list(R"({"pattern": "^apt-get install -y nginx$", )" + kNoRole + "}"),
                    "package-file", "$.scripts_section.white_cmd_list[0].pattern", 0, false,
                    "echo ran", nullptr, true},
        FindingCase{"SecretFile", list(R"({"pattern": "^cat /etc/[a-z]*$", )" + kNoRole + "}"),
                    "secret-file", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"NoSecretFile",
                    list(R"({"pattern": "^cat /etc/host[a-z]*$", )" + kNoRole + "}"), "secret-file",
                    "$.scripts_section.white_cmd_list[0].pattern", 0, false, "echo ran", nullptr,
                    true},
        FindingCase{"PagerIsANote",
                    list(R"({"pattern": "^journalctl -u nginx$", )" + kNoRole + "}"), "pager",
                    "$.scripts_section.white_cmd_list[0].pattern", 0},
        FindingCase{"NoPager",
                    list(R"({"pattern": "^journalctl --no-pager -u nginx$", )" + kNoRole + "}"),
                    "pager", "$.scripts_section.white_cmd_list[0].pattern", 0, false, "echo ran",
                    nullptr, true},
        FindingCase{"CoveredByEarlier",
                    list(R"({"pattern": "^ls /tmp/[a-z]*$", "is_cookie_check": 0},
                            {"pattern": "^ls /tmp/x$", "is_cookie_check": 0})"),
                    "unreachable", "$.scripts_section.white_cmd_list[1]", 1},
        FindingCase{"NotCovered", list(R"({"pattern": "^ls /srv/[a-z]*$", "is_cookie_check": 0},
                            {"pattern": "^ls /srv/X$", "is_cookie_check": 0})"),
                    "unreachable", "$.scripts_section.white_cmd_list[1]", 0, false, "echo ran",
                    nullptr, true},
        // What an entry names on this machine: /tmp is everyone's.
        FindingCase{"WritablePath",
                    list(R"({"pattern": "^tar czf /tmp/www\\.tgz /srv$", )" + kNoRole + "}"),
                    "writable-path", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"OptionNamesWritablePath",
                    list(R"({"pattern": "^rsync -a --files-from=/tmp/list /srv /backup$", )" +
                         kNoRole + "}"),
                    "writable-path", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{
            "RootsPath",
            list(R"({"pattern": "^tar czf /var/backups/www\\.tgz /srv$", )" + kNoRole + "}"),
            "writable-path", "$.scripts_section.white_cmd_list[0].pattern", 0, false, "echo ran",
            nullptr, true},
        // Its deterministic automaton has millions of states: the analysis
        // ends at its budget.
        // The example runs a second program where the entry admits one.
        FindingCase{"MetacharRunsASecondProgram",
                    list(R"({"pattern": "^df -h .*$", )" + kNoRole + "}"), "shell-metachar",
                    "$.scripts_section.white_cmd_list[0].pattern", 1, false, "echo ran", nullptr,
                    false, "df -h ;id"},
        FindingCase{"PastTheBudget",
                    list(R"({"pattern": "^[ab]*a[ab]\\{20\\}$", )" + kNoRole + "}"), "not-analysed",
                    "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"BackReferenceNotAnalysed",
                    list(R"({"pattern": "^echo \\(a\\)\\1$", )" + kNoRole + "}"), "not-analysed",
                    "$.scripts_section.white_cmd_list[0].pattern", 1},
        // What the gate sees otherwise than the file seems to say.
        FindingCase{"DashReadAsZero", scripts(R"({"check_method": -})"), "not-json-number",
                    "$.scripts_section.check_method", 2},
        FindingCase{"PatternNumber", list(R"({"pattern": 5, )" + kNoRole + "}"),
                    "pattern-not-string", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"NulEndsPattern", list(R"({"pattern": "^echo ran\u0000$", )" + kNoRole + "}"),
                    "nul-in-pattern", "$.scripts_section.white_cmd_list[0].pattern", 1},
        FindingCase{"PatternCutAtNulIsUnanchored",
                    list(R"({"pattern": "^echo ran\u0000$", )" + kNoRole + "}"), "not-anchored",
                    "$.scripts_section.white_cmd_list[0].pattern", 1},
        // The ancestor check trusts command lines that any process can choose.
        FindingCase{"AncestorWithoutRoleCheck",
                    scripts(section(3, R"([{"pattern": "^x$", )" + kNoRole + "}]")),
                    "ancestor-without-role-check", "$.scripts_section.white_cmd_list[0]", 1},
        FindingCase{"AncestorTypeZero",
                    scripts(section(3, R"([{"pattern": "^x$", "type": 0}])", 1)),
                    "ancestor-without-role-check", "$.scripts_section.white_cmd_list[0]", 1},
        FindingCase{"AncestorRoleCheckIsANote",
                    scripts(section(3, R"([{"pattern": "^x$", "role_right": {"5": 1}}])")),
                    "ancestor-role-check", "$.scripts_section.white_cmd_list[0]", 0},
        FindingCase{"NoRoleRight", list(R"({"pattern": "^x$"})"), "never-grants",
                    "$.scripts_section.white_cmd_list[0]", 1},
        FindingCase{"LevelsNotPositive",
                    list(R"({"pattern": "^x$", "role_right": {"1": 0, "2": -3, "3": 0.5}})"),
                    "never-grants", "$.scripts_section.white_cmd_list[0].role_right", 1}),
    [](const ::testing::TestParamInfo<FindingCase>& p) { return p.param.name; });

// Number tokens as the gate's reader takes them: JSON's numbers pass, the
// others that it takes are errors, and those it does not take fail to load.
TEST(PolicyCheck, NumberTokens) {
  const char* const kNumber = "not-json-number";
  const char* const kLoad = "load-failed";
  const struct {
    const char* token;
    const char* code;  // expected finding at $.enable_log, or null for none
  } cases[] = {
      {"0", nullptr},   {"-0", nullptr},   {"12", nullptr},  {"-1.5e3", nullptr}, {"1E+2", nullptr},
      {"-", kNumber},   {"01", kNumber},   {"-01", kNumber}, {"00", kNumber},     {"1.", kNumber},
      {"-.5", kNumber}, {"1.e2", kNumber}, {"+1", kLoad},    {".5", kLoad},       {"1e", kLoad},
      {"--1", kLoad},   {"1-2", kLoad},
  };
  for (const auto& c : cases) {
    Checked checked = check_text(std::string(R"({"enable_log": )") + c.token +
                                 R"(, "scripts_section": {"check_method": 2},
                                     "ui_section": {"check_method": 2}})");
    const Json::Value& findings = checked.report["findings"];
    if (c.code == nullptr) {
      EXPECT_EQ(findings.size(), 0u) << c.token << ": " << checked.run.out;
      continue;
    }
    ASSERT_EQ(findings.size(), 1u) << c.token << ": " << checked.run.out;
    EXPECT_EQ(findings[0]["code"], c.code) << c.token;
    EXPECT_EQ(checked.run.status, 2) << c.token;
    if (c.code == kNumber) {
      EXPECT_EQ(findings[0]["column"], 16) << c.token;
      EXPECT_EQ(findings[0]["path"], "$.enable_log") << c.token;
    }
  }
}

// A policy that does not load: the finding's place is the one the gate names
// when it refuses to load it.
TEST(PolicyCheck, LoadFailuresArePlacedWhereTheGateSaysSo) {
  const struct {
    std::string policy;
    int line, column;
    const char* message;
  } cases[] = {
      // A stray "}" ends the policy: the ui section after it would be dropped.
      {"{\n  \"scripts_section\": {\"check_method\": 0}},\n"
       "  \"ui_section\": {\"check_method\": 2}\n}\n",
       2, 42, "Extra non-whitespace after JSON value."},
      {"{\"scripts_section\": null} /* a comment */\r\n// another\r\n  x", 3, 3,
       "Extra non-whitespace after JSON value."},
      {"{\"a\": 1} /* left open", 1, 10, "Extra non-whitespace after JSON value."},
      {"{\n  \"scripts_section\": {\n    \"check_method\": 1,,\n  }\n}\n", 3, 23,
       "Missing '}' or object member name"},
  };
  for (const auto& c : cases) {
    Checked checked = check_text(c.policy);
    EXPECT_EQ(checked.run.status, 2);
    ASSERT_EQ(checked.report["findings"].size(), 1u) << checked.run.out;
    const Json::Value& f = checked.report["findings"][0];
    EXPECT_EQ(f["code"], "load-failed");
    EXPECT_EQ(f["line"], c.line) << c.policy;
    EXPECT_EQ(f["column"], c.column) << c.policy;
    EXPECT_NE(f["message"].asString().find(c.message), std::string::npos) << f["message"];
    Sandbox box;
    box.policy(c.policy);
    RunResult gate = box.gate({"echo ran"});
    EXPECT_EQ(gate.status, 1) << c.policy;
    EXPECT_NE(gate.out.find("* Line " + std::to_string(c.line) + ", Column " +
                            std::to_string(c.column) + "\n  " + c.message),
              std::string::npos)
        << gate.out;
  }
}

TEST(PolicyCheck, LoadFailureGivesTheReadersMessageAndPlace) {
  Checked c = check_text("{\n  \"scripts_section\": {\n    \"check_method\": 1,,\n  }\n}\n");
  EXPECT_EQ(c.run.status, 2);
  ASSERT_GE(c.report["findings"].size(), 1u) << c.run.out;
  const Json::Value& f = c.report["findings"][0];
  EXPECT_EQ(f["code"], "load-failed");
  EXPECT_EQ(f["line"], 3);
  EXPECT_EQ(f["column"], 23);  // the second comma, as the reader counts
  EXPECT_NE(f["message"].asString().find("Missing '}' or object member name"), std::string::npos)
      << f["message"];

  Sandbox box;
  Checked missing = check(box, {"/etc/no-such-policy.json"});
  EXPECT_EQ(missing.run.status, 2);
  EXPECT_NE(missing.run.out.find("cannot be opened: No such file or directory"), std::string::npos)
      << missing.run.out;
  EXPECT_EQ(missing.report["findings"].size(), 1u) << missing.run.out;  // no syntax error besides
}

// Several files, standard input among them: one document, each finding with
// its file, in the order of its place, the worst status.
TEST(PolicyCheck, SeveralFilesAndStandardInput) {
  Sandbox box;
  box.write(kUnderTest, kClean);
  // The reader reports the repeated member before the walk finds the ignored one above it.
  const std::string late = R"({"enable_logs": 1, "scripts_section": {"check_method": 2},
      "ui_section": {"check_method": 2, "check_method": 2}})";
  Checked c{box.run({policy_binary(), "check", "--json", kUnderTest, "-"}, late), Json::Value()};
  ASSERT_TRUE(Json::Reader().parse(c.run.out, c.report, false)) << c.run.out << c.run.err;
  EXPECT_EQ(c.run.status, 1);
  EXPECT_EQ(c.report["files"][0], kUnderTest);
  EXPECT_EQ(c.report["files"][1], "<stdin>");
  ASSERT_EQ(c.report["findings"].size(), 2u) << c.run.out;
  EXPECT_EQ(c.report["findings"][0]["code"], "ignored-member");
  EXPECT_EQ(c.report["findings"][1]["code"], "repeated-member");
  EXPECT_EQ(c.report["findings"][1]["file"], "<stdin>");
}

TEST(PolicyCheck, TextOutputNamesFilePlacePathAndCode) {
  Sandbox box;
  box.write(kUnderTest,
            "{\"scripts_section\": {\"check_method\": 1,\n  \"white_cmd_list\": "
            "[{\"pattern\": \"^ls\", \"is_cookie_check\": 0}]},\n"
            " \"ui_section\": {\"check_method\": 2}}");
  RunResult r = box.run({policy_binary(), "check", kUnderTest});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out.rfind(std::string(kUnderTest) +
                            ":2:34: warning: $.scripts_section.white_cmd_list[0].pattern: \"^ls\" "
                            "is not anchored at its end with '$'",
                        0),
            0u)
      << r.out;
  EXPECT_NE(r.out.find("[not-anchored]\n"), std::string::npos);
  EXPECT_NE(r.out.find(std::string(kUnderTest) + ": 0 errors, 1 warning\n"), std::string::npos);
}

TEST(PolicyCheck, UsageErrors) {
  Sandbox box;
  EXPECT_EQ(box.run({policy_binary()}).status, 2);
  EXPECT_EQ(box.run({policy_binary(), "check", "--frobnicate"}).status, 2);
  EXPECT_EQ(box.run({policy_binary(), "check", "a", "b"}).status, 2);
  EXPECT_EQ(box.run({policy_binary(), "--help"}).status, 0);
  EXPECT_EQ(box.run({policy_binary(), "check", "-", "-"}).status, 2);
  RunResult help = box.run({policy_binary(), "check", "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: corvexin_policy check [--json] [FILE|-]...\n", 0), 0u)
      << help.out;
  RunResult version = box.run({policy_binary(), "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "corvexin_policy " CORVEXIN_VERSION "\n");
}

// The installed policy: who may change what the gate trusts with root.
class InstalledFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    box.policy(kClean);
    box.settings("[http]\nkelvo_web_protocol=https\nkelvo_web_server=8443\n");
    std::filesystem::create_directories(box.dir() + "/etc/kelvo/lib");
    chmod((box.dir() + "/etc/kelvo").c_str(), 0755);
    chmod((box.dir() + "/etc/kelvo/lib").c_str(), 0755);
  }
  std::string host(const std::string& path) const { return box.dir() + path; }
  Sandbox box;
};

TEST_F(InstalledFiles, SafeInstallationIsClean) {
  Checked c = check(box, {});
  EXPECT_EQ(c.run.status, 0) << c.run.out;
  EXPECT_EQ(c.report["file"], "/etc/cmd_check.json");
}

TEST_F(InstalledFiles, WritableOrForeignFilesAreErrors) {
  // The policy is judged by the gate's own rule: group-writable is fine for
  // root's group alone.
  chmod(host("/etc/cmd_check.json").c_str(), 0664);
  EXPECT_EQ(check(box, {}).run.status, 0);
  ASSERT_EQ(chown(host("/etc/cmd_check.json").c_str(), 0, 65534), 0);
  ASSERT_EQ(chown(host("/etc/kelvo/halvora.ini").c_str(), 65534, 65534), 0);
  chmod(host("/etc/kelvo/lib").c_str(), 0777);
  box.write("/etc/kelvo/lib/libcurl.so.4", "");
  chmod(host("/etc/kelvo/lib/libcurl.so.4").c_str(), 0646);
  ASSERT_EQ(chown(host("/etc/kelvo").c_str(), 1000, 0), 0);
  box.make_log_dir();
  chmod(host("/var/varn/log").c_str(), 0777);
  // Given by name, the installed policy is checked the same way.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{}, std::vector<std::string>{"/etc/cmd_check.json"}}) {
    Checked c = check(box, args);
    EXPECT_EQ(c.run.status, 2) << c.run.out;
    EXPECT_TRUE(c.has_file("untrusted-policy", "/etc/cmd_check.json")) << c.run.out;
    for (const char* file : {"/etc/kelvo/halvora.ini", "/etc/kelvo/lib",
                             "/etc/kelvo/lib/libcurl.so.4", "/etc/kelvo", "/var/varn/log"}) {
      EXPECT_TRUE(c.has_file("unsafe-file", file)) << file << "\n" << c.run.out;
    }
    EXPECT_EQ(c.report["errors"], 6) << c.run.out;
  }
  // Another file is not the installed one: no file is examined.
  box.write(kUnderTest, kClean);
  EXPECT_EQ(check(box, {kUnderTest}).run.status, 0);
}

TEST_F(InstalledFiles, RoleChecksWithoutSettingsAreWarned) {
  std::filesystem::remove(host("/etc/kelvo/halvora.ini"));
  Checked c = check(box, {});
  EXPECT_EQ(c.run.status, 1);
  EXPECT_TRUE(c.has_file("no-settings", "/etc/kelvo/halvora.ini")) << c.run.out;

  for (const char* settings : {"[http]\nkelvo_web_server=8443\n",
                               "[http]\nkelvo_web_protocol=http\nkelvo_web_server=1@host:80\n"}) {
    box.settings(settings);
    c = check(box, {});
    EXPECT_TRUE(c.has_file("no-settings", "/etc/kelvo/halvora.ini")) << c.run.out;
  }

  // Without role-checked entries the settings are not needed.
  box.policy(R"({"scripts_section": {"check_method": 1, "white_cmd_list":
                  [{"pattern": "^uptime$", "is_cookie_check": 0}]}, "ui_section": {"check_method": 2}})");
  EXPECT_EQ(check(box, {}).run.status, 0);
}

// The administrator's table of command risks: a line that is no rule, and a
// table that is there but cannot be read, are reported, never taken as fewer
// rules in silence.
TEST_F(InstalledFiles, AdministratorsRiskTableProblemsAreWarned) {
  const std::string table = "/etc/corvexin/command-risks";
  const struct {
    bool directory;  // the table's place holds a directory: it opens, reading fails
    const char* text;
    const char* message;
  } rows[] = {
      {false, "runner sudo 1\n", nullptr},
      {false, "runner sudo 2x\n", "/etc/corvexin/command-risks:1: not a rule: runner sudo 2x"},
      {false, "runner sudo 99999999999\n",
       "/etc/corvexin/command-risks:1: not a rule: runner sudo 99999999999"},
      {true, "", "/etc/corvexin/command-risks: cannot be read: Is a directory"},
  };
  for (const auto& row : rows) {
    std::filesystem::remove_all(host(table));
    if (row.directory) {
      std::filesystem::create_directories(host(table));
    } else {
      box.write(table, row.text);
    }
    Checked c = check(box, {});
    EXPECT_EQ(c.has_file("bad-risk-rule", table), row.message != nullptr) << row.text << c.run.out;
    if (row.message != nullptr) {
      EXPECT_NE(c.run.out.find(row.message), std::string::npos) << c.run.out;
    }
  }
}

// What entries name, judged on the machine: a directory of www-data's above a
// file chowned as root, a group-writable upload directory, a directory of
// the gate's PATH searched before the program's own; suggest says so too.
TEST_F(InstalledFiles, PathsOthersCanChangeAreWarned) {
  for (const char* dir : {"/var/www/html", "/var/www/uploads"})
    std::filesystem::create_directories(host(dir));
  ASSERT_EQ(chown(host("/var/www/html").c_str(), 33, 33), 0);
  ASSERT_EQ(chown(host("/var/www/uploads").c_str(), 0, 50), 0);
  chmod(host("/var/www/uploads").c_str(), 0775);
  box.policy(policy_text(section(1, R"([
      {"pattern": "^chown www-data:www-data /var/www/html/config\\.php$", "is_cookie_check": 0},
      {"pattern": "^/usr/bin/dpkg -i /var/www/uploads/[a-z0-9_.-]*\\.deb$", "is_cookie_check": 0},
      {"pattern": "^uptime$", "is_cookie_check": 0}])"),
                         0, kRefusingSection));
  const struct {
    const char* entry;
    const char* names;
    const char* example;
  } expected[] = {
      {"[0]", "\"/var/www/html\" can be changed by the account www-data, its owner",
       "chown www-data:www-data /var/www/html/config.php"},
      {"[1]", "\"/var/www/uploads\" can be changed by the group staff",
       "/usr/bin/dpkg -i /var/www/uploads/.deb"},
      {"[2]", "\"/usr/local/sbin\" can be changed by every account", "uptime"},
  };
  // Inside the run's own mount namespace, a directory of the PATH everyone may write.
  Checked c{box.run({"/bin/sh", "-c",
                     "mount -t tmpfs -o mode=0777 writable /usr/local/sbin && exec \"$0\" check "
                     "--json",
                     policy_binary()}),
            Json::Value()};
  Json::Reader().parse(c.run.out, c.report, false);
  EXPECT_EQ(c.run.status, 1) << c.run.out << c.run.err;
  for (const auto& e : expected) {
    bool found = false;
    for (const auto& f : c.report["findings"]) {
      found =
          found ||
          (f["code"] == "writable-path" &&
           f["path"] == std::string("$.scripts_section.white_cmd_list") + e.entry + ".pattern" &&
           f["message"].asString().find(e.names) != std::string::npos && f["example"] == e.example);
    }
    EXPECT_TRUE(found) << e.entry << "\n" << c.run.out;
  }
  box.make_log_dir();
  box.policy(policy_text(kRefusingSection));
  box.gate({"chown www-data:www-data /var/www/html/config.php"});
  const RunResult suggested = box.run({policy_binary(), "suggest"});
  EXPECT_NE(suggested.out.find("can be changed by the account www-data"), std::string::npos)
      << suggested.out;
}

// The gate installed beside the tool: set-uid and executable by everyone is
// a warning; set-uid for one group is not. A "role_service_user" that may
// start that gate (a member of its group, or anyone where everyone may) is
// warned of.
TEST_F(InstalledFiles, GateExecutableByEveryoneIsWarned) {
  const std::string sbin = box.dir() + "/sbin";
  std::filesystem::create_directories(sbin);
  std::filesystem::copy_file(policy_binary(), sbin + "/corvexin_policy");
  chmod((sbin + "/corvexin_policy").c_str(), 0755);
  box.write("/sbin/corvexin_check", "");
  for (const mode_t mode : {04755, 04750}) {
    chmod((sbin + "/corvexin_check").c_str(), mode);
    Checked c{box.run({sbin + "/corvexin_policy", "check", "--json"}), Json::Value()};
    Json::Reader().parse(c.run.out, c.report, false);
    EXPECT_EQ(c.has_file("gate-mode", sbin + "/corvexin_check"), mode == 04755) << c.run.out;
    EXPECT_EQ(c.run.status, mode == 04755 ? 1 : 0) << c.run.out;
  }
  const std::string policy = kClean;
  ASSERT_EQ(chown((sbin + "/corvexin_check").c_str(), 0, 33), 0);
  const struct {
    mode_t mode;
    const char* user;
    bool warned;
  } users[] = {{04750, "www-data", true}, {04750, "backup", false}, {04755, "backup", true}};
  for (const auto& u : users) {
    SCOPED_TRACE(u.user);
    chmod((sbin + "/corvexin_check").c_str(), u.mode);
    box.policy(R"({"role_service_user": ")" + std::string(u.user) + "\", " + policy.substr(1));
    Checked c{box.run({sbin + "/corvexin_policy", "check", "--json"}), Json::Value()};
    Json::Reader().parse(c.run.out, c.report, false);
    EXPECT_EQ(c.has("weak-service-user", "$.role_service_user"), u.warned) << c.run.out;
  }
}

// "diff": each change with an example that the changed entry admits; a
// policy against itself is the same.
struct DiffCase {
  const char* name;
  std::string old_list, new_list;  // the scripts section's entries
  const char* change;              // expected change of the NEW (or OLD) entry, or "" for none
  const char* example;
  int status;
};

class Diff : public ::testing::TestWithParam<DiffCase> {};

TEST_P(Diff, ShowsWhatTheChangeLetsInOrShutsOut) {
  const DiffCase& c = GetParam();
  Sandbox box;
  box.write("/etc/old.json", list(c.old_list));
  box.write("/etc/new.json", list(c.new_list));
  const RunResult run =
      box.run({policy_binary(), "diff", "--json", "/etc/old.json", "/etc/new.json"});
  EXPECT_EQ(run.status, c.status) << run.out << run.err;
  Json::Value report;
  ASSERT_TRUE(Json::Reader().parse(run.out, report, false)) << run.out << run.err;
  EXPECT_EQ(report["format"], 1);
  bool found = std::string(c.change).empty();
  for (const auto& change : report["changes"]) {
    found = found || (change["change"] == c.change && change["example"] == c.example);
    if (change.isMember("example")) {
      EXPECT_EQ(check_regexp(change["example"].asCString(), change["pattern"].asCString()), 0)
          << change;
    }
  }
  EXPECT_TRUE(found) << run.out;
}

const std::string kLs = R"({"pattern": "^ls /var/log/[a-z]*$", "is_cookie_check": 0})";
INSTANTIATE_TEST_SUITE_P(
    Cases, Diff,
    ::testing::Values(
        DiffCase{"Same", kLs, kLs, "", "", 0},
        DiffCase{"Widened", kLs, R"({"pattern": "^ls /var/log/[a-z.]*$", "is_cookie_check": 0})",
                 "admitted", "ls /var/log/.", 1},
        DiffCase{"Narrowed", kLs, R"({"pattern": "^ls /var/log/[a-z]\\+$", "is_cookie_check": 0})",
                 "no-longer-admitted", "ls /var/log/", 1},
        DiffCase{"RoleConditionAlone", kLs,
                 R"({"pattern": "^ls /var/log/[a-z]*$", "role_right": {"1": 2}})", "condition",
                 "ls /var/log/", 1},
        // The first match decides: an entry behind one that matches all it
        // matches changes nothing.
        DiffCase{"BehindAnEarlierEntry", kLs,
                 kLs + R"(, {"pattern": "^ls /var/log/[a-y]*$", "role_right": {"1": 2}})", "", "",
                 0}),
    [](const ::testing::TestParamInfo<DiffCase>& p) { return p.param.name; });

// The members that check knows of each policy object are the ones the
// policy's JSON Schema describes, no more and no fewer.
TEST(KnownMembers, AgreeWithTheSchema) {
  std::ifstream file(TESTS_DIR "/../share/cmd_check.schema.json");
  Json::Value schema;
  ASSERT_TRUE(Json::Reader().parse(file, schema));
  const Json::Value& entry = schema["$defs"]["entry"]["properties"];
  const struct {
    const char* object;
    const Json::Value& properties;
    std::vector<std::string> known;
  } objects[] = {
      {"policy", schema["properties"], {std::begin(kPolicyMembers), std::end(kPolicyMembers)}},
      {"section",
       schema["$defs"]["section"]["properties"],
       {std::begin(kSectionMembers), std::end(kSectionMembers)}},
      {"entry", entry, {std::begin(kEntryMembers), std::end(kEntryMembers)}},
      {"role_right",
       entry[kRoleRightMember]["properties"],
       {std::begin(kRightCategories), std::end(kRightCategories)}},
  };
  for (const auto& o : objects) {
    SCOPED_TRACE(o.object);
    std::vector<std::string> described = o.properties.getMemberNames();
    std::vector<std::string> known = o.known;
    std::sort(described.begin(), described.end());
    std::sort(known.begin(), known.end());
    EXPECT_FALSE(described.empty());
    EXPECT_EQ(known, described);
  }
}

}  // namespace

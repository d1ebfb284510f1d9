// The section-by-section decision: which section decides, by which method,
// what the log records and which trace lines are printed.
#include <gtest/gtest.h>
#include <unistd.h>

#include "gate.h"
#include "gate_runner.h"

namespace {

struct DecisionCase {
  const char* name;
  std::string sections;  // members of the policy besides "enable_log"
  int status;            // 0 runs, 1 refused
  std::string log;       // log with tracing on
  std::string out;       // standard output with tracing on, refusals only
};

class Decision : public ::testing::TestWithParam<DecisionCase> {};

const char kScriptsPass[] = "echo x\npass the scripts check, run cmd now\n\n";
const char kUiPass[] = "echo x\npass the ui check, run cmd now\n\n";
const char kRefusedLog[] = "echo x\ncheck failed, skip cmd\n\n";
const char kRefusedOut[] = "failed to pass the parameter check\n";

TEST_P(Decision, WithTracingOnAndOff) {
  const DecisionCase& c = GetParam();
  for (int trace : {0, 1}) {
    SCOPED_TRACE(trace);
    Sandbox box;
    box.make_log_dir();
    box.policy("{\"enable_log\": " + std::to_string(trace) + (c.sections.empty() ? "" : ", ") +
               c.sections + "}");
    RunResult r = box.gate({"echo x"});
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.status == 0) {
      EXPECT_EQ(r.out, "x\n");
      EXPECT_EQ(box.log(), trace ? c.log : "");
    } else {
      EXPECT_EQ(r.out, trace ? c.out : kRefusedOut);
      EXPECT_EQ(box.log(), kRefusedLog);  // refusals are logged either way
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Decision,
    ::testing::Values(
        DecisionCase{"NoSections", "", 0, kScriptsPass, ""},
        DecisionCase{"ScriptsMethod0", R"("scripts_section": {"check_method": 0})", 0, kScriptsPass, ""},
        DecisionCase{"ScriptsNull", R"("scripts_section": null, "ui_section": {"check_method": 2})", 0,
                     kScriptsPass, ""},
        DecisionCase{"ScriptsBlackUiMissing", R"("scripts_section": {"check_method": 2})", 0, kUiPass, ""},
        DecisionCase{"ScriptsBlackUiNone",
                     R"("scripts_section": {"check_method": 2}, "ui_section": {"check_method": 0})", 0,
                     kUiPass, ""},
        DecisionCase{"BothBlack",
                     R"("scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2})", 1, "",
                     std::string("black list check\nblack list check\n") + kRefusedOut},
        DecisionCase{"UnknownMethodHasNoTrace",
                     R"("scripts_section": {"check_method": 7}, "ui_section": {"check_method": 2})", 1, "",
                     std::string("black list check\n") + kRefusedOut},
        DecisionCase{"EmptyWhiteListRefuses",
                     R"("scripts_section": {"check_method": 1}, "ui_section": {"check_method": 2})", 1, "",
                     std::string("white list check\nblack list check\n") + kRefusedOut},
        // Numbers are read as unsigned integers: true is 1, a real is truncated.
        DecisionCase{"MethodAsReal",
                     R"("scripts_section": {"check_method": 2.9}, "ui_section": {"check_method": 0.5})", 0,
                     kUiPass, ""},
        DecisionCase{"MethodAsTrue",
                     R"("scripts_section": {"check_method": true, "white_cmd_list": []},
                        "ui_section": {"check_method": 2})",
                     1, "", std::string("white list check\nblack list check\n") + kRefusedOut},
        // The black list is handed over but never read.
        DecisionCase{"BlackListIgnored",
                     R"("scripts_section": {"check_method": 2, "black_cmd_list": [{"pattern": "echo"}]},
                        "ui_section": {"check_method": 0, "black_cmd_list": "anything"})",
                     0, kUiPass, "x"}),
    [](const ::testing::TestParamInfo<DecisionCase>& p) { return p.param.name; });

// Values that cannot be converted end the run, whatever the method: the
// command is refused and the refusal logged.
TEST(Decision, UnconvertibleSectionValuesRefuse) {
  const std::vector<std::string> sections = {
      R"({"check_method": "0"})",
      R"({"check_method": -1})",
      R"({"check_method": 0, "is_type_check": "1"})",
      R"({"check_method": 0, "is_cookie_check": []})",
      R"({"check_method": 0, "is_cookie_check": -2})",
      R"({"check_method": {}})",
      R"([])",
      R"("section")",
      R"(3)",
      R"(true)",
  };
  for (const auto& section : sections) {
    SCOPED_TRACE(section);
    Sandbox box;
    box.make_log_dir();
    box.policy(R"({"scripts_section": )" + section + R"(, "ui_section": {"check_method": 0}})");
    RunResult r = box.gate({"echo x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kRefusedOut);
    EXPECT_NE(r.err.find("corvexin_check: "), std::string::npos);
    EXPECT_EQ(box.log(), kRefusedLog);
  }
}

// The record that the decision code fills as it decides, read in this
// process. The role lookup is replaced through the hook: the case supplies
// the account role information, and no request is made.
Json::Value role_answer;
void keep_quiet(const char*, int) {}
void ignore_entry(const char*, unsigned, const std::string&, int) {}
void answer_role_lookup(const char*) { group_role = role_answer; }
const DecisionHooks kAnswering = {keep_quiet, ignore_entry, answer_role_lookup};

struct RecordCase {
  const char* name;
  std::string policy;
  const char* answer;  // the role service's answer
  int verdict;         // -1: the run ends
  unsigned count;      // sections asked
  int entry;           // of the last section asked
  MatchRule rule;
  bool role_lookup;
  const char* user;
  int role_result;
};

class Record : public ::testing::TestWithParam<RecordCase> {};

TEST_P(Record, IsFilledAsTheDecisionIsMade) {
  const RecordCase& c = GetParam();
  ASSERT_TRUE(parse_policy_text(c.policy, root, nullptr, nullptr));
  group_role = Json::Value();
  ASSERT_TRUE(parse_document(c.answer, role_answer, false, nullptr, nullptr));
  decision_hooks = &kAnswering;
  try {
    decide_sections("echo x", kDefaultCookie);
  } catch (const Json::Exception&) {
  }
  decision_hooks = nullptr;
  EXPECT_EQ(decision.verdict, c.verdict);
  ASSERT_EQ(decision.count, c.count);
  const SectionDecision& last = decision.sections[c.count - 1];
  EXPECT_STREQ(last.name, kSectionNames[c.count - 1]);
  EXPECT_EQ(last.entry, c.entry);
  EXPECT_EQ(last.read, c.verdict >= 0);
  EXPECT_EQ(last.result, c.verdict);
  if (c.entry < 0) return;
  EXPECT_EQ(last.rule, c.rule);
  EXPECT_EQ(last.role_lookup, c.role_lookup);
  EXPECT_EQ(last.user, c.user);
  EXPECT_EQ(last.role_result, c.role_result);
}

const char kSecond[] = R"({"scripts_section": {"check_method": 1, "white_cmd_list": [
    {"pattern": "^no$", "is_cookie_check": 0}, {"pattern": "^echo", "is_cookie_check": 0}]}})";
const char kTyped[] = R"({"scripts_section": {"check_method": 2}, "ui_section": {"check_method": 1,
    "is_type_check": 1, "white_cmd_list": [{"pattern": "x$", "type": 0}]}})";
const char kRoleChecked[] = R"({"scripts_section": {"check_method": 1, "white_cmd_list": [
    {"pattern": "^echo", "role_right": {"3": 2}}]}, "ui_section": {"check_method": 2}})";

INSTANTIATE_TEST_SUITE_P(
    Cases, Record,
    ::testing::Values(
        RecordCase{"CookieFlagZero", kSecond, "{}", 0, 1, 1, MatchRule::kCookieFlagZero, false, "",
                   -1},
        RecordCase{"TypeZero", kTyped, "{}", 0, 2, 0, MatchRule::kTypeZero, false, "", -1},
        RecordCase{"RoleGranted", kRoleChecked, R"({"user": "alice", "group_value": {"3": 2}})", 0,
                   1, 0, MatchRule::kRoleCheck, true, "alice", 0},
        RecordCase{"RoleRefused", kRoleChecked, R"({"user": "bob", "group_value": {"3": 1}})", 1, 2,
                   -1, MatchRule::kRoleCheck, false, "", -1},
        RecordCase{"NoMatch",
                   R"({"scripts_section": {"check_method": 1}, "ui_section": {"check_method": 7}})",
                   "{}", 1, 2, -1, MatchRule::kRoleCheck, false, "", -1},
        RecordCase{"RunEnds", R"({"scripts_section": {"check_method": "1"}})", "{}", -1, 1, -1,
                   MatchRule::kRoleCheck, false, "", -1}),
    [](const ::testing::TestParamInfo<RecordCase>& p) { return p.param.name; });

// A refused role check is recorded too, and the ancestor check records the
// ancestor whose command line matched: here every ancestor matches, and each
// role check refuses.
TEST(Record, RefusedMatchAndTheAncestor) {
  ASSERT_TRUE(parse_policy_text(kRoleChecked, root, nullptr, nullptr));
  ASSERT_TRUE(parse_document(R"({"user": "bob"})", role_answer, false, nullptr, nullptr));
  decision_hooks = &kAnswering;
  decide_sections("echo x", kDefaultCookie);
  const SectionDecision& scripts = decision.sections[0];
  EXPECT_EQ(scripts.entry, 0);
  EXPECT_TRUE(scripts.role_lookup);
  EXPECT_EQ(scripts.user, "bob");
  EXPECT_EQ(scripts.role_result, 1);
  EXPECT_EQ(scripts.result, 1);

  ASSERT_TRUE(parse_policy_text(R"({"scripts_section": {"check_method": 3, "white_cmd_list": [
      {"pattern": ".", "role_right": {"1": 1}}]}, "ui_section": {"check_method": 2}})",
                                root, nullptr, nullptr));
  decide_sections("echo x", kDefaultCookie);
  decision_hooks = nullptr;
  EXPECT_EQ(decision.verdict, 1);
  EXPECT_EQ(decision.sections[0].method, 3u);
  EXPECT_GE(decision.sections[0].matches, 1u);
  EXPECT_GT(decision.sections[0].ancestor_pid, 1);
  EXPECT_NE(decision.sections[0].ancestor[0], '\0');
  // The first ancestor tried is the parent.
  ASSERT_TRUE(parse_policy_text(R"({"scripts_section": {"check_method": 3, "white_cmd_list": [
      {"pattern": ".", "is_cookie_check": 0}]}})",
                                root, nullptr, nullptr));
  decide_sections("echo x", kDefaultCookie);
  EXPECT_EQ(decision.verdict, 0);
  EXPECT_EQ(decision.sections[0].ancestor_pid, getppid());
}

}  // namespace

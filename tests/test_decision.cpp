// The section-by-section decision: which section decides, by which method,
// what the log records and which trace lines are printed.
#include <gtest/gtest.h>
#include <unistd.h>

#include "decision.h"
#include "gate_runner.h"
#include "json_document.h"
#include "log.h"
#include "policy.h"
#include "policy_json.h"
#include "vocabulary.h"

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
      EXPECT_EQ(r.out, trace ? c.out : kRefusal);
      EXPECT_EQ(box.log(), kRefusedLog);  // refusals are logged either way
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Decision,
    ::testing::Values(
        DecisionCase{"NoSections", "", 0, kScriptsPass, ""},
        DecisionCase{"ScriptsMethod0", R"("scripts_section": {"check_method": 0})", 0, kScriptsPass,
                     ""},
        DecisionCase{"ScriptsNull", R"("scripts_section": null, "ui_section": {"check_method": 2})",
                     0, kScriptsPass, ""},
        DecisionCase{"ScriptsBlackUiMissing", R"("scripts_section": {"check_method": 2})", 0,
                     kUiPass, ""},
        DecisionCase{"ScriptsBlackUiNone",
                     R"("scripts_section": {"check_method": 2}, "ui_section": {"check_method": 0})",
                     0, kUiPass, ""},
        DecisionCase{"BothBlack",
                     R"("scripts_section": {"check_method": 2}, "ui_section": {"check_method": 2})",
                     1, "", std::string("black list check\nblack list check\n") + kRefusal},
        DecisionCase{"UnknownMethodHasNoTrace",
                     R"("scripts_section": {"check_method": 7}, "ui_section": {"check_method": 2})",
                     1, "", std::string("black list check\n") + kRefusal},
        DecisionCase{"EmptyWhiteListRefuses",
                     R"("scripts_section": {"check_method": 1}, "ui_section": {"check_method": 2})",
                     1, "", std::string("white list check\nblack list check\n") + kRefusal},
        // Numbers are read as unsigned integers: true is 1, a real is truncated.
        DecisionCase{
            "MethodAsReal",
            R"("scripts_section": {"check_method": 2.9}, "ui_section": {"check_method": 0.5})", 0,
            kUiPass, ""},
        DecisionCase{"MethodAsTrue",
                     R"("scripts_section": {"check_method": true, "white_cmd_list": []},
                        "ui_section": {"check_method": 2})",
                     1, "", std::string("white list check\nblack list check\n") + kRefusal},
        // The black list is handed over but never read.
        DecisionCase{
            "BlackListIgnored",
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
    EXPECT_EQ(r.out, kRefusal);
    EXPECT_NE(r.err.find("corvexin_check: "), std::string::npos);
    EXPECT_EQ(box.log(), kRefusedLog);
  }
}

// The record that the decision code fills as it decides, read in this
// process. The role lookup is replaced through the hook: the case supplies
// the account role information, and no request is made.
Json::Value role_answer;
void ignore_entry(void*, const char*, unsigned, const std::string&, int, const SectionDecision&) {}
void answer_role_lookup(void*, const char*) {
  group_role = role_answer;
}
const DecisionHooks kAnswering = {nullptr, ignore_entry, answer_role_lookup, nullptr};

void decide_with_answer(const std::string& policy, const char* answer) {
  ASSERT_TRUE(parse_policy_text(policy, root, nullptr, nullptr));
  ASSERT_TRUE(parse_document(answer, role_answer, false, nullptr, nullptr));
  group_role = Json::Value();
  std::vector<std::string> quiet;
  log_capture = &quiet;
  try {
    decide_sections("echo x", kDefaultCookie, &kAnswering);
  } catch (const Json::Exception&) {
  }
  log_capture = nullptr;
}

// What the scripts section's record holds.
struct RecordCase {
  const char* list;    // its white list, as JSON text
  const char* answer;  // the role service's answer
  int verdict;         // of the run, with the ui section refusing; -1: the run ends
  int entry;
  MatchRule rule;
  const char* user;  // null: no role lookup
  int role_result;
};

TEST(Record, IsFilledAsTheDecisionIsMade) {
  const char kRoleChecked[] = R"([{"pattern": "x$", "type": 1, "role_right": {"3": 2}}])";
  const RecordCase cases[] = {
      {R"([{"pattern": "^no$", "is_cookie_check": 0}, {"pattern": "x$", "is_cookie_check": 0}])",
       "{}", 0, 1, MatchRule::kCookieFlagZero, nullptr, -1},
      {R"([{"pattern": "x$", "type": 0}])", "{}", 0, 0, MatchRule::kTypeZero, nullptr, -1},
      {kRoleChecked, R"({"user": "al", "group_value": {"3": 2}})", 0, 0, MatchRule::kRoleCheck,
       "al", 0},
      {kRoleChecked, R"({"user": "bo", "group_value": {"3": 1}})", 1, 0, MatchRule::kRoleCheck,
       "bo", 1},
      {R"([{"pattern": "^no$"}])", "{}", 1, -1, MatchRule::kRoleCheck, nullptr, -1},
      {R"([{"pattern": "x$", "type": "0"}])", "{}", -1, 0, MatchRule::kRoleCheck, nullptr, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    decide_with_answer(std::string(R"({"scripts_section": {"check_method": 1, "is_type_check": 1,
        "white_cmd_list": )") +
                           c.list + R"(}, "ui_section": {"check_method": 2}})",
                       c.answer);
    EXPECT_EQ(decision.verdict, c.verdict);
    EXPECT_EQ(decision.count, c.verdict == 1 ? 2u : 1u);
    const SectionDecision& scripts = decision.sections[0];
    EXPECT_STREQ(scripts.name, "scripts_section");
    EXPECT_TRUE(scripts.read);
    EXPECT_EQ(scripts.method, 1u);
    EXPECT_EQ(scripts.result, c.verdict < 0 ? -1 : c.verdict == 0 ? 0 : 1);
    EXPECT_EQ(scripts.entry, c.entry);
    if (c.entry < 0 || c.verdict < 0) continue;
    EXPECT_EQ(scripts.rule, c.rule);
    EXPECT_EQ(scripts.role_lookup, c.user != nullptr);
    EXPECT_EQ(scripts.user, c.user != nullptr ? c.user : "");
    EXPECT_EQ(scripts.role_result, c.role_result);
  }
  decide_with_answer(R"({"scripts_section": {"check_method": "1"}})", "{}");
  EXPECT_FALSE(decision.sections[0].read);
}

// The ancestor check records the ancestor whose command line matched: the
// parent, the first one it tries.
TEST(Record, AncestorThatMatched) {
  decide_with_answer(R"({"scripts_section": {"check_method": 3, "white_cmd_list": [
      {"pattern": ".", "is_cookie_check": 0}]}})",
                     "{}");
  EXPECT_EQ(decision.verdict, 0);
  EXPECT_NE(decision.sections[0].ancestor[0], '\0');
}

}  // namespace

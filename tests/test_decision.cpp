// The section-by-section decision: which section decides, by which method,
// what the log records and which trace lines are printed.
#include <gtest/gtest.h>

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

}  // namespace

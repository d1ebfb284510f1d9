// Loading of /etc/cmd_check.json: what loads, what does not, and how a policy
// that cannot be loaded is refused and logged.
#include <gtest/gtest.h>

#include <filesystem>

#include "gate_runner.h"
#include "policy_json.h"

namespace {

TEST(Policy, MissingOrEmptyPolicyRefusesEveryCommand) {
  Sandbox missing;
  missing.make_log_dir();
  Sandbox empty;
  empty.make_log_dir();
  empty.policy("");
  for (const Sandbox* box : {&missing, &empty}) {
    RunResult r = box->gate({"echo RAN"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, kEmptyDocument);
    EXPECT_EQ(box->log(), "load json failed, skip cmd\n\n");
    // A missing policy says so, beside the reader's complaint.
    EXPECT_EQ(r.err, box == &missing ? "corvexin_check: cannot open /etc/cmd_check.json: No such "
                                       "file or directory\n"
                                     : "");
  }
}

TEST(Policy, PolicyThatIsADirectoryIsRefused) {
  Sandbox box;
  std::filesystem::create_directories(box.dir() + "/etc/cmd_check.json");
  RunResult r = box.gate({"echo RAN"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kEmptyDocument);
}

// Each policy text either loads (and, with a verdict that follows from it,
// decides the command) or does not load and refuses with the reader's message.
struct LoadCase {
  const char* name;
  std::string policy;
  bool runs;
  std::string out_prefix;  // expected start of standard output when refused
};

class PolicyLoad : public ::testing::TestWithParam<LoadCase> {};

TEST_P(PolicyLoad, Decides) {
  const LoadCase& c = GetParam();
  Sandbox box;
  box.policy(c.policy);
  RunResult r = box.gate({"echo RAN"});
  if (c.runs) {
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(r.out, "RAN\n");
  } else {
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out.rfind(c.out_prefix, 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("RAN"), std::string::npos);
  }
}

const std::string kRefuse = R"("check_method": 2)";
const std::string kFailedParse = "Failed to parse configuration\n* Line ";

INSTANTIATE_TEST_SUITE_P(
    Cases, PolicyLoad,
    ::testing::Values(
        LoadCase{"SyntaxError", R"({"scripts_section": {)", false, kFailedParse},
        LoadCase{"ByteOrderMark", "\xEF\xBB\xBF{}", false, kFailedParse},
        LoadCase{"EmptyObject", "{}", true, ""}, LoadCase{"NullRoot", "null", true, ""},
        LoadCase{"Comments",
                 "// line comment\n{ /* block */ \"scripts_section\": {" + kRefuse +
                     "}, \"ui_section\": {\"check_method\": 0} // end\n}",
                 true, ""},
        // Only blanks and comments may follow the value: a stray brace must not
        // end the policy early and drop the section after it unseen.
        LoadCase{"StrayBraceEndsNoPolicyEarly",
                 "{\"scripts_section\": {" + kRefuse + "}} }, \"ui_section\": {" + kRefuse + "}}",
                 false, kFailedParse + "1, Column 42\n  Extra non-whitespace after JSON value.\n"},
        LoadCase{"SecondDocument", "{\"scripts_section\": {" + kRefuse + "}}\r\n{}", false,
                 kFailedParse + "2, Column 1\n  Extra non-whitespace after JSON value.\n"},
        LoadCase{"TrailingCommentLeftOpen", "{\"scripts_section\": {" + kRefuse + "}} /* end",
                 false, kFailedParse + "1, Column 42\n"},
        LoadCase{"TrailingCommentsAndBlankLines",
                 "{\"scripts_section\": {" + kRefuse + "}}\n\n// end\n/* more */ \r\n\t// last",
                 true, ""},
        LoadCase{"RepeatedMemberKeepsTheLast",
                 "{\"scripts_section\": {\"check_method\": 0}, \"scripts_section\": {" + kRefuse +
                     "}, \"ui_section\": {" + kRefuse + "}}",
                 false, kRefusal},
        LoadCase{"EnableLogTrue", R"({"enable_log": true})", true, ""},
        // Roots that parse but cannot be read by key end the run.
        LoadCase{"ArrayRoot", "[1, 2]", false, kRefusal},
        LoadCase{"StringRoot", "\"text\"", false, kRefusal},
        LoadCase{"NumberRoot", "42", false, kRefusal},
        LoadCase{"BooleanRoot", "true", false, kRefusal},
        LoadCase{"EnableLogString", R"({"enable_log": "yes"})", false, kRefusal}),
    [](const ::testing::TestParamInfo<LoadCase>& p) { return p.param.name; });

TEST(Policy, EnableLogTrueSwitchesTracingOn) {
  Sandbox box;
  box.make_log_dir();
  box.policy(R"({"enable_log": true, "scripts_section": {"check_method": 0}})");
  ASSERT_EQ(box.gate({"true"}).status, 0);
  EXPECT_EQ(box.log(), "true\npass the scripts check, run cmd now\n\n");
}

}  // namespace

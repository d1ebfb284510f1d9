// White-list matching through the real gate: pattern semantics, the JSON
// types the list and its entries may have, and the trace.
#include <gtest/gtest.h>

#include "gate_runner.h"
#include "policy_json.h"
#include "role_service.h"

namespace {

struct Verdict {
  bool allowed;
  RunResult run;
};

// Runs command under a policy whose scripts section is the white list (JSON
// text) and whose ui section is ui.
Verdict decide(const std::string& list, const std::string& command,
               const std::string& ui = kRefusingSection, int enable_log = 0, int type_check = 0) {
  Sandbox box;
  box.make_log_dir();
  box.policy(policy_text(section(1, list, type_check), enable_log, ui));
  RunResult r = box.gate({command});
  const bool refused =
      r.status == 1 && r.out.size() >= sizeof kRefusal - 1 &&
      r.out.compare(r.out.size() - (sizeof kRefusal - 1), std::string::npos, kRefusal) == 0;
  return {!refused, r};
}

// A policy value the gate cannot convert ends the run through main's error
// path: refused, with a message on standard error, even though the ui
// section would allow the command.
void expect_run_ended(const std::string& list, const std::string& command = "echo x") {
  Verdict v = decide(list, command, kAllowingSection);
  EXPECT_FALSE(v.allowed) << list;
  EXPECT_EQ(v.run.status, 1) << list;
  EXPECT_NE(v.run.err.find("corvexin_check: "), std::string::npos) << list << v.run.err;
}

struct PatternCase {
  const char* pattern;  // JSON text of the "pattern" member
  const char* command;
  bool allowed;
};

TEST(WhiteList, PatternSemantics) {
  const PatternCase cases[] = {
      // Searched anywhere in the text; anchoring is the pattern's own.
      {R"("^ls")", "ls -d /", true},
      {R"("^ls")", "/bin/ls -d /", false},
      {R"("ls")", "ls -d /", true},
      {R"("ls")", "/bin/ls -d /", true},
      {R"("-d /$")", "/bin/ls -d /", true},
      // Basic syntax: "+" is literal, intervals and groups are escaped.
      {R"("a+")", "echo a+", true},
      {R"("a+")", "echo aa", false},
      {R"("a\\{2\\}")", "echo aa", true},
      {R"("a\\{2\\}")", "echo a", false},
      {R"("\\(ab\\)\\1")", "echo abab", true},
      {R"("a|b")", "echo a", false},
      // Case-sensitive.
      {R"("^ECHO")", "echo x", false},
      // "." and bracket expressions match a newline; "^" and "$" only
      // anchor at the ends of the whole text.
      {R"("x.echo")", "echo x\necho y", true},
      {R"("x[^a]echo")", "echo x\necho y", true},
      {R"("^echo y")", "echo x\necho y", false},
      {R"("x$")", "echo x\necho y", false},
      // The empty pattern matches everything, the empty command too.
      {R"("")", "echo x", true},
      {R"("")", "", true},
      // Non-string patterns are read as their text.
      {"42", "echo 42", true},
      {"42", "echo 4", false},
      {"true", "echo true", true},
      {"false", "echo true", false},
  };
  for (const auto& c : cases) {
    const std::string list =
        std::string(R"([{"pattern": )") + c.pattern + R"(, "is_cookie_check": 0}])";
    Verdict v = decide(list, c.command);
    EXPECT_EQ(v.allowed, c.allowed) << c.pattern << " vs " << c.command << ": " << v.run.out;
    if (v.allowed) {
      EXPECT_EQ(v.run.status, 0) << c.command;
    }
  }
}

TEST(WhiteList, EntryWithoutPatternAndNullEntryMatchEverything) {
  EXPECT_TRUE(decide(R"([{"is_cookie_check": 0}])", "echo x").allowed);
  EXPECT_TRUE(decide(R"([{"pattern": null, "is_cookie_check": 0}])", "echo x").allowed);
  // A null entry reads as an entry with no members: the empty pattern, and
  // type 0, which allows without a role check in a section that checks types.
  EXPECT_TRUE(decide("[null]", "echo x", kRefusingSection, 0, 1).allowed);
}

TEST(WhiteList, MatchedCommandRunsThroughTheShell) {
  Verdict v = decide(R"([{"pattern": "^echo", "is_cookie_check": 0}])", "echo 'a  b' | tr a A");
  ASSERT_TRUE(v.allowed);
  EXPECT_EQ(v.run.out, "A  b\n");
  EXPECT_EQ(v.run.status, 0);
}

TEST(WhiteList, PatternThatDoesNotCompileIsReportedAndSkipped) {
  for (const char* bad : {R"("[")", R"("a\\{1")", R"("\\(")"}) {
    const std::string skipped =
        std::string(R"([{"pattern": )") + bad +
        R"(, "is_cookie_check": 0}, {"pattern": "^echo", "is_cookie_check": 0}])";
    Verdict v = decide(skipped, "echo x");
    EXPECT_TRUE(v.allowed) << bad;
    EXPECT_EQ(v.run.out, "x\n");
    EXPECT_EQ(v.run.err.rfind("regcomp failed\n: ", 0), 0u) << v.run.err;

    Verdict alone =
        decide(std::string(R"([{"pattern": )") + bad + R"(, "is_cookie_check": 0}])", "echo x");
    EXPECT_FALSE(alone.allowed) << bad;
    EXPECT_EQ(alone.run.err.rfind("regcomp failed\n: ", 0), 0u) << alone.run.err;
  }
}

TEST(WhiteList, TypesOfTheList) {
  // No entries: the scripts section refuses and the ui section (method 0)
  // lets the command through.
  for (const char* list : {"null", "0", "7", R"("echo")", "true", "{}", "[]"}) {
    Verdict v = decide(list, "echo x", kAllowingSection, 1);
    EXPECT_TRUE(v.allowed) << list;
    EXPECT_EQ(v.run.out, "x\n") << list;
  }
  // An object with members cannot be indexed.
  expect_run_ended(R"({"pattern": "echo"})");
}

TEST(WhiteList, TypesOfEntries) {
  for (const char* list : {R"([[]])", R"([["echo"]])", R"(["echo"])", "[1]", "[true]"})
    expect_run_ended(list);
}

TEST(WhiteList, OnlyReachedMembersAreConverted) {
  // Pattern and cookie flag of every entry up to the match are converted.
  expect_run_ended(R"([{"pattern": ["x"]}, {"pattern": "", "is_cookie_check": 0}])");
  expect_run_ended(R"([{"pattern": {"a": 1}}])");
  expect_run_ended(R"([{"pattern": "nomatch", "is_cookie_check": "0"},
                       {"pattern": "", "is_cookie_check": 0}])");
  // Entries after the match, and the type and rights of entries before it,
  // are never read.
  EXPECT_TRUE(decide(R"([{"pattern": "nomatch", "type": "x", "role_right": 5},
                         {"pattern": "echo", "is_cookie_check": 0},
                         {"pattern": [1], "is_cookie_check": {}}, 5])",
                     "echo x")
                  .allowed);
  // The matching entry's type is read only when the section checks types,
  // and then even when the cookie flag alone would allow.
  const std::string typed = R"([{"pattern": "echo", "is_cookie_check": 0, "type": "one"}])";
  EXPECT_TRUE(decide(typed, "echo x").allowed);
  Sandbox box;
  box.policy(policy_text(section(1, typed, 1), 0, kAllowingSection));
  RunResult r = box.gate({"echo x"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out, kRefusal);
}

TEST(WhiteList, TraceOfARefusedCommand) {
  Sandbox box;
  box.make_log_dir();
  box.policy(policy_text(section(1, R"([{"pattern": "^x"}, {"pattern": "[", "is_cookie_check": 0},
                                        {"pattern": 42}])"),
                         1));
  RunResult r = box.gate({"echo 'a b'"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "white list check\n"
            "cmd[echo 'a b'] try to match pattern[^x]\n"
            "cmd[echo 'a b'] try to match pattern[[]\n"
            "cmd[echo 'a b'] try to match pattern[42]\n"
            "black list check\n"
            "failed to pass the parameter check\n");
  EXPECT_EQ(r.err.rfind("regcomp failed\n: ", 0), 0u) << r.err;
  EXPECT_EQ(box.log(), "echo 'a b'\ncheck failed, skip cmd\n\n");
}

TEST(WhiteList, TraceIsSilentWithoutEnableLog) {
  Verdict v = decide(R"([{"pattern": "^x"}])", "echo x");
  EXPECT_FALSE(v.allowed);
  EXPECT_EQ(v.run.out, kRefusal);
}

// A white list whose entries demand level 2 in right category 3, decided by a
// real role service for a user whose group holds `granted` in category 3.
struct RoleCase {
  const char* what;
  int type_check;
  const char* flags;  // the entry's cookie and type members
  int granted;
  bool allowed;
  size_t lookups;
};

TEST(WhiteListRoles, CookieAndTypeFlags) {
  const RoleCase cases[] = {
      {"cookie flag 0 allows without a lookup", 1, R"("is_cookie_check": 0, "type": 1)", 0, true,
       0},
      {"type 0 allows without a lookup", 1, R"("is_cookie_check": 1, "type": 0)", 0, true, 0},
      {"missing type reads as 0", 1, R"("is_cookie_check": 1)", 0, true, 0},
      {"type and cookie flag: enough rights", 1, R"("is_cookie_check": 1, "type": 3)", 2, true, 1},
      {"type and cookie flag: too few rights", 1, R"("is_cookie_check": 1, "type": 1)", 1, false,
       1},
      {"cookie flag defaults to 1", 1, R"("type": 1)", 1, false, 1},
      // A section that does not check types takes no type from the entry: a
      // cookie flag that is not 0 asks for the role check.
      {"no type check: enough rights", 0, R"("type": 0)", 2, true, 1},
      {"no type check: too few rights", 0, R"("is_cookie_check": 1, "type": 0)", 1, false, 1},
      {"no type check, cookie flag 0", 0, R"("is_cookie_check": 0, "type": 1)", 0, true, 0},
  };
  for (const auto& c : cases) {
    RoleService service;
    service.reply(R"({"user": "alice", "group_value": {"3": )" + std::to_string(c.granted) + "}}");
    Sandbox box;
    box.settings(service.settings("http"));
    const std::string list =
        std::string(R"([{"pattern": "^echo", "role_right": {"3": 2}, )") + c.flags + "}]";
    box.policy(policy_text(section(1, list, c.type_check)));
    RunResult r = box.gate({"echo ran", "session=abc"});
    EXPECT_EQ(r.out, c.allowed ? "ran\n" : kRefusal) << c.what;
    const auto requests = service.requests();
    EXPECT_EQ(requests.size(), c.lookups) << c.what;
    for (const auto& q : requests) {
      EXPECT_EQ(q.path, "/rest/accountroleinfo") << c.what;
      EXPECT_EQ(q.values("Cookie"), std::vector<std::string>{"session=abc"}) << c.what;
    }
  }
}

TEST(WhiteListRoles, FirstMatchDecidesEvenWhenItsRoleCheckRefuses) {
  RoleService service;
  service.reply(R"({"user": "alice", "group_value": {"3": 1}})");
  Sandbox box;
  box.make_log_dir();
  box.settings(service.settings("http"));
  box.policy(policy_text(section(1, R"([{"pattern": "x$", "role_right": {"3": 2}},
                                        {"pattern": "^echo", "is_cookie_check": 0}])"),
                         1));
  RunResult r = box.gate({"echo x"});
  EXPECT_EQ(r.status, 1);
  // The lookup's trace line has no newline of its own; a refusal by rights
  // prints nothing.
  EXPECT_EQ(r.out,
            "white list check\n"
            "cmd[echo x] try to match pattern[x$]\n"
            "cmd[echo x] match pattern[x$]\n"
            "read config test: http://127.0.0.1:" +
                std::to_string(service.port()) +
                "/rest/accountroleinfo"
                "black list check\n"
                "failed to pass the parameter check\n");
  EXPECT_EQ(box.log(), R"({"user": "alice", "group_value": {"3": 1}})"
                       "\necho x\ncheck failed, skip cmd\n\n");
  ASSERT_EQ(service.requests().size(), 1u);
  EXPECT_EQ(service.requests()[0].values("Cookie"),
            std::vector<std::string>{"placeholder_session_for_gate_test"});

  // The internal administrator passes the same entry.
  service.reply(R"({"user": "admin"})");
  r = box.gate({"echo x"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "x\n");
}

}  // namespace

namespace {

// libcurl is looked up in the appliance's library directory first: a broken
// copy there is what the gate tries to load (and refuses the role check).
TEST(WhiteListRoles, LibcurlComesFromTheApplianceLibraryDirectory) {
#ifdef __SANITIZE_ADDRESS__
  // The sanitizer intercepts dlopen, which then searches its own path.
  GTEST_SKIP() << "not meaningful under AddressSanitizer";
#endif
  Sandbox box;
  box.write("/etc/kelvo/lib/libcurl.so.4", "not a library");
  box.settings("[http]\nkelvo_web_protocol = http\nkelvo_web_server = 1\n");
  box.policy(policy_text(section(1, R"([{"pattern": "^echo", "role_right": {"1": 1}}])")));
  RunResult r = box.gate({"echo ran"});
  EXPECT_EQ(r.status, 1);
  // Without libcurl the reply is empty, which does not parse.
  EXPECT_EQ(r.out.rfind("Failed to parse* Line 1, Column 1\n", 0), 0u) << r.out;
  EXPECT_NE(r.err.find("cannot load libcurl: /etc/kelvo/lib/libcurl.so.4"), std::string::npos) << r.err;
}

}  // namespace

// White-list matching through the real gate: pattern semantics, the JSON
// types the list and its entries may have, and the trace; and the shortcuts
// that answer some patterns without the regex engine, against that engine.
#include <gtest/gtest.h>
#include <regex.h>

#include <clocale>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "gate_runner.h"
#include "pattern_match.h"
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
  // The last three begin like patterns that the shortcuts refuse without the
  // regex engine when the text lacks their start ("^zz"): they must still
  // reach regcomp and be reported.
  for (const char* bad :
       {R"("[")", R"("a\\{1")", R"("\\(")", R"("^zz[z-a]")", R"("^zzb**")", R"("^zz.\\")"}) {
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

// The regex engine's own answers for one pattern, as check_regexp gets them
// without shortcuts: 0 match, 1 no match, 2 the pattern does not compile.
class Engine {
 public:
  explicit Engine(const std::string& pattern) : compiled_(regcomp(&re_, pattern.c_str(), 0) == 0) {}
  ~Engine() {
    if (compiled_) regfree(&re_);
  }
  Engine(const Engine&) = delete;
  Engine& operator=(const Engine&) = delete;
  int result(const std::string& text) const {
    if (!compiled_) return 2;
    const int rc = regexec(&re_, text.c_str(), 0, nullptr, 0);
    return rc == 0 ? 0 : rc == REG_NOMATCH ? 1 : 3;
  }

 private:
  regex_t re_;
  bool compiled_;
};

std::string shown(const std::string& text) {
  return testing::PrintToString(text);
}

struct Agreement {
  size_t pairs = 0, decided = 0;
  bool ok = true;
};

// Runs every text against pattern through the shortcuts and through the
// engine; a shortcut that answers must give the engine's answer, and never
// answers for a pattern that does not compile. Stops at the first difference.
void compare(const std::string& pattern, const std::vector<std::string>& texts, Agreement& a) {
  if (!a.ok) return;
  const Engine engine(pattern);
  for (const auto& text : texts) {
    ++a.pairs;
    const int quick = match_without_regex(text.c_str(), pattern.c_str());
    if (quick == kNeedsRegex) continue;
    ++a.decided;
    const int expected = engine.result(text);
    if (quick != expected) {
      ADD_FAILURE() << "pattern " << shown(pattern) << " text " << shown(text) << ": shortcut "
                    << quick << ", regex engine " << expected;
      a.ok = false;
      return;
    }
  }
}

std::string pick(std::mt19937& random, const std::string& alphabet, size_t max_length) {
  std::string out(random() % (max_length + 1), ' ');
  for (char& c : out) c = alphabet[random() % alphabet.size()];
  return out;
}

// A text likely to match pattern or to come close: the pattern without its
// anchors and backslashes, cut or extended at either end.
std::string near_text(std::mt19937& random, const std::string& pattern) {
  std::string text;
  for (char c : pattern)
    if (c != '\\' && c != '^' && c != '$') text += c;
  switch (random() % 4) {
    case 0:
      return text;
    case 1:
      return text.substr(random() % (text.size() + 1));
    case 2:
      return text.substr(0, random() % (text.size() + 1));
    default:
      return pick(random, "ab\n.-", 2) + text + pick(random, "ab\n.-", 2);
  }
}

// clang-format off
const char* const kHandPickedPatterns[] = {
    "", "^", "$", "^$", "uptime", "^uptime$", "^uptime", "uptime$", "^ls -l /var/log$",
    // Plain "+ ? | ( ) { }" are literal; escaped they are operators.
    "a+", "a|b", "(a)", "{1}", "a\\{2\\}", "\\(ab\\)\\1", "a\\+", "a\\?", "a\\|b",
    // "*" first or after "^" is literal; a second "*" after an atom does not compile.
    "*a", "^*", "^*a", "**", "a**", "^**", "^ab**", "^ab*", "^ab*c", "^a.**",
    // "^" and "$" in the middle; anchors inside groups and alternatives.
    "a^b", "a$b", "$a", "^^", "a$$", "^a$b", "\\(^a\\)", "x\\(^a\\)", "a\\|^b", "x$\\|y",
    "^ab\\(c$\\)",
    // Escapes: literal, operators, GNU extensions, errors.
    "\\", "a\\", "^a\\", "^ab.\\", "\\^a", "a\\$", "^a\\$", "^a\\\\$", "^a\\.b$",
    "^a\\*b", "^a\\[b", "^a\\]b", "^a\\/b", "^a\\nb", "^ab\\w", "^ab\\W", "^ab\\s",
    "^ab\\S", "^ab\\b", "^ab\\B", "^ab\\<", "^ab\\>", "^ab\\`", "^ab\\'", "^ab\\{1",
    "^ab\\{1\\}", "^ab\\(", "^ab\\)",
    // Bracket expressions.
    "^ab[z-a]", "^ab[a-z-9]", "^ab[]", "^ab[^]", "^ab[]a]", "^ab[[:alpha:]]", "^ab[[.a.]]",
    "^ab[[=a=]]", "^ab[a", "^ab[-]", "^ab[--]", "^ab[a-]", "^ab[-a-]", "^ab[a--]", "^ab[^-a]",
    "^ab[a-a]", "^ab[ -~]*$", "^ab[\\]", "^ab[a^]", "^/opt/tool [-a-z0-9 ]*$", "^x.*$", "^x.",
    // Newlines and bytes above 0x7f.
    "a\nb", "^a\nb$", "\n", "^a.b$", "\xc3\xa9", "^\xc3\xa9t\xc3\xa9$", "^\xff[a-z]",
};

const char* const kHandPickedTexts[] = {
    "", "a", "ab", "abc", "b", "uptime", "uptime ", " uptime", "xuptime", "uptime\n", "\nuptime",
    "ls -l /var/log", "a+", "aa", "a|b", "(a)", "{1}", "*a", "^*a", "^a", "a$", "a^b", "a$b", "$a",
    "^", "$", "\\", "a\\", "a.b", "a*b", "a[b", "a]b", "a/b", "anb", "axb", "ab\nc", "a\nb",
    "\n", "abc-", "ab-", "x", "x-", "/opt/tool -v 1", "/opt/toolx", "/opt/tool ", "\xc3\xa9",
    "\xc3\xa9t\xc3\xa9", "\xff", "\xff" "a",
};
// clang-format on

TEST(PatternShortcuts, AgreeWithTheRegexEngine) {
  ASSERT_EQ(MB_CUR_MAX, 1u) << "the tests run in the C locale";
  Agreement all;
  const std::vector<std::string> texts(std::begin(kHandPickedTexts), std::end(kHandPickedTexts));
  for (const char* pattern : kHandPickedPatterns) compare(pattern, texts, all);

  // Random patterns over alphabets rich in what basic syntax treats specially,
  // and texts of the same bytes, with newlines, and texts close to a match.
  std::mt19937 random(20240611);
  const std::string alphabets[] = {"^$.*[]\\(){}|+?ab\n", "ab\\.*^$\n", "^ab-z[]^*.$ ",
                                   "ab\\{}()|+?*12", "ab-[]^:.=\xe9"};
  const std::string text_bytes = "ab\n^$.*[]-\\z(){}|+?1 \xe9";
  Agreement random_pairs;
  for (int round = 0; round < 30000 && random_pairs.ok; ++round) {
    const std::string& alphabet = alphabets[round % std::size(alphabets)];
    std::string pattern = pick(random, alphabet, 10);
    if (round % 2 == 0) pattern = "^" + pick(random, "ab -/", 4) + pattern;
    std::vector<std::string> pair_texts;
    for (int i = 0; i < 4; ++i) pair_texts.push_back(pick(random, text_bytes, 8));
    for (int i = 0; i < 4; ++i) pair_texts.push_back(near_text(random, pattern));
    compare(pattern, pair_texts, random_pairs);
  }

  // Patterns shaped like the ones the prefix shortcut takes, "^", a literal
  // start and a rest of dots, brackets and stars, some spoilt by a piece that
  // does not compile or that the shortcut must not take.
  const char* const pieces[] = {".", "[a-z]", "[-0-9 ]", "[^a]", "x", "\\.", "*", "$"};
  const char* const spoilers[] = {"**",  "\\{", "[z-a]", "[",  "\\",  "\\(",
                                  "\\|", "$x",  "^",     "[]", "\\+", "\\1"};
  Agreement shaped;
  for (int round = 0; round < 20000 && shaped.ok; ++round) {
    std::string rest;
    for (size_t n = random() % 5; n > 0; --n) rest += pieces[random() % std::size(pieces)];
    if (round % 3 == 0)
      rest.insert(random() % (rest.size() + 1), spoilers[random() % std::size(spoilers)]);
    const std::string prefix = pick(random, "ab/ ", 3);
    const std::string pattern = "^" + prefix + rest;
    std::vector<std::string> pair_texts = {
        pick(random, "ab/ x", 6), prefix + pick(random, "abx-0 ", 4), near_text(random, pattern)};
    compare(pattern, pair_texts, shaped);
  }

  EXPECT_TRUE(all.ok && random_pairs.ok && shaped.ok);
  // The shortcuts were really exercised.
  EXPECT_GT(all.decided, all.pairs / 4) << all.decided << " of " << all.pairs;
  EXPECT_GT(random_pairs.decided, 20000u) << random_pairs.decided << " of " << random_pairs.pairs;
  EXPECT_GT(shaped.decided, 10000u) << shaped.decided << " of " << shaped.pairs;
}

// In a multi-byte locale every pattern goes to the regex engine.
TEST(PatternShortcuts, OnlyInASingleByteLocale) {
  EXPECT_EQ(match_without_regex("uptime", "^uptime$"), 0);
  EXPECT_EQ(match_without_regex("ls", "^uptime [a-z]*$"), 1);
  if (setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  EXPECT_EQ(match_without_regex("uptime", "^uptime$"), kNeedsRegex);
  EXPECT_EQ(match_without_regex("ls", "^uptime [a-z]*$"), kNeedsRegex);
  setlocale(LC_CTYPE, "C");
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
  EXPECT_NE(r.err.find("cannot load libcurl: /etc/kelvo/lib/libcurl.so.4"), std::string::npos)
      << r.err;
}

}  // namespace

// The matcher that answers white-list patterns without compiling them
// (gate/pattern_match.cpp), against glibc's regcomp and regexec: it must never
// answer for a pattern regcomp rejects, and must give regexec's answer.
//
// Longer campaign, for anyone changing the matcher (about 2 s per 100,000
// patterns):
//   PATTERN_CAMPAIGN_ROUNDS=5000000 PATTERN_CAMPAIGN_SEED=$RANDOM
//   build/tests/test_pattern_match --gtest_filter='*Grammar*'
// (both variables in the environment of the test program).
#include <gtest/gtest.h>
#include <regex.h>

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "pattern_match.h"

namespace {

// regexec's answer: 0 match, 1 no match, 2 the pattern does not compile.
int engine(const std::string& pattern, const std::string& text) {
  regex_t re;
  if (regcomp(&re, pattern.c_str(), 0) != 0) return 2;
  const int rc = regexec(&re, text.c_str(), 0, nullptr, 0);
  regfree(&re);
  return rc == 0 ? 0 : 1;
}

// Patterns from the grammar of basic syntax, each with texts sampled from it.
class Grammar {
 public:
  explicit Grammar(unsigned seed) : random_(seed) {}

  // A pattern, and in texts some texts that mostly match it.
  std::string pattern(std::vector<std::string>& texts) {
    std::vector<std::string> samples(4);
    groups_.assign(4, std::vector<std::string>());
    std::string p = branches(0, samples);
    if (one_in(3)) mutate(p);
    for (auto& s : samples) {
      texts.push_back(s);
      texts.push_back(pick("ab\n x") + s + pick("ab\n x"));
      mutate(s);
      texts.push_back(s);
    }
    return p;
  }

 private:
  std::mt19937 random_;
  std::vector<std::vector<std::string>> groups_;  // per sample, each group's text

  bool one_in(unsigned n) { return random_() % n == 0; }
  std::string pick(const char* bytes) {
    std::string out(random_() % 3, ' ');
    for (char& c : out) c = bytes[random_() % strlen(bytes)];
    return out;
  }
  void mutate(std::string& s) {
    static const char kBytes[] = "ab\\()|{}*+?^$.[]-,1:=\n";
    const size_t at = s.empty() ? 0 : random_() % s.size();
    const char c = kBytes[random_() % (sizeof kBytes - 1)];
    switch (random_() % 3) {
      case 0:
        s.insert(at, 1, c);
        break;
      case 1:
        if (!s.empty()) s.erase(at, 1);
        break;
      default:
        if (!s.empty()) s[at] = c;
    }
  }

  std::string branches(int depth, std::vector<std::string>& samples) {
    std::string p = sequence(depth, samples);
    while (one_in(depth == 0 ? 4 : 3)) {
      std::vector<std::string> other(samples.size());
      p += "\\|" + sequence(depth, other);
      for (size_t i = 0; i < samples.size(); ++i)
        if (one_in(2)) samples[i] = other[i];
    }
    return p;
  }

  std::string sequence(int depth, std::vector<std::string>& samples) {
    std::string p = one_in(4) ? "^" : "";
    for (size_t n = random_() % 5; n > 0; --n) p += expression(depth, samples);
    if (one_in(4)) p += "$";
    return p;
  }

  std::string expression(int depth, std::vector<std::string>& samples) {
    std::vector<std::string> once(samples.size());
    std::string p = atom(depth, once);
    static const char* const kRepeats[] = {"*",         "\\+",      "\\?",       "\\{2\\}",
                                           "\\{0,2\\}", "\\{1,\\}", "\\{,2\\}",  "\\{0\\}",
                                           "\\{,\\}",   "*\\+",     "\\{3,1\\}", "**",
                                           "\\+*",      "\\{\\}",   "\\{1",      "\\{99999\\}"};
    size_t min = 1, extra = 0;
    if (one_in(3)) {
      const size_t k = random_() % (one_in(4) ? std::size(kRepeats) : 10);
      p += kRepeats[k];
      static const size_t kMin[] = {0, 1, 0, 2, 0, 1, 0, 0, 0, 0};
      static const size_t kExtra[] = {3, 2, 1, 0, 2, 2, 2, 0, 3, 3};
      min = k < 10 ? kMin[k] : 1;
      extra = k < 10 ? kExtra[k] : 0;
    }
    for (size_t i = 0; i < samples.size(); ++i) {
      size_t copies = min + (extra > 0 ? random_() % (extra + 1) : 0);
      while (copies-- > 0) samples[i] += once[i];
    }
    return p;
  }

  std::string atom(int depth, std::vector<std::string>& samples) {
    struct Form {
      const char* pattern;
      const char* texts;  // one byte of these; "" for the empty text
    };
    static const Form kForms[] = {
        {"a", "a"},
        {"b", "b"},
        {".", "a\n.x"},
        {"\\.", "."},
        {"[ab]", "ab"},
        {"[^a]", "b\n-"},
        {"[a-c]", "abc"},
        {"[]a]", "]a"},
        {"[a-]", "a-"},
        {"[-a]", "-a"},
        {"[[:digit:]]", "19"},
        {"[[:space:]]", " \n"},
        {"[[=a=]]", "a"},
        {"[[.-.]]", "-"},
        {"\\w", "a_1"},
        {"\\W", " -\n"},
        {"\\s", " \t"},
        {"\\S", "ab"},
        {"\\n", "n"},
        {"\\}", "}"},
        {"*", "*"},
        {"\\+", "+"},
        {"^", "^"},
        {"$", "$"},
        {"[a", "a"},
        {"[z-a]", "z"},
        {"[[:foo:]]", "f"},
        {"[a-c-e]", "a"},
        {"[[=ab=]]", "a"},
        {"\\", "\\"},
        {"\\(", "("},
        {"\\)", ")"},
        {"\\{1\\}", "{"},
        {"\\b", ""},
        {"\xe9", "\xe9"},
        {"[\xe9-\xff]", "\xe9"},
    };
    const size_t valid = 24;
    if (depth < 3 && one_in(4)) {
      std::vector<std::string> inner(samples.size());
      const std::string p = "\\(" + branches(depth + 1, inner) + "\\)";
      for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] += inner[i];
        groups_[i].push_back(inner[i]);
      }
      return p;
    }
    if (!groups_[0].empty() && one_in(8)) {
      const size_t n = random_() % groups_[0].size() + (one_in(8) ? 1 : 0);
      for (size_t i = 0; i < samples.size(); ++i)
        if (n < groups_[i].size()) samples[i] += groups_[i][n];
      return "\\" + std::to_string(n + 1);
    }
    const Form& f = kForms[random_() % (one_in(8) ? std::size(kForms) : valid)];
    for (auto& s : samples)
      if (*f.texts != '\0') s += f.texts[random_() % strlen(f.texts)];
    return f.pattern;
  }
};

TEST(PatternMatch, GrammarPatternsAgreeWithTheRegexEngine) {
  const char* rounds_env = getenv("PATTERN_CAMPAIGN_ROUNDS");
  const char* seed_env = getenv("PATTERN_CAMPAIGN_SEED");
  const unsigned long rounds = rounds_env != nullptr ? strtoul(rounds_env, nullptr, 10) : 30000;
  const auto seed =
      static_cast<unsigned>(seed_env != nullptr ? strtoul(seed_env, nullptr, 10) : 20261207);
  Grammar grammar(seed);
  size_t pairs = 0, decided = 0, matched = 0, failures = 0;
  for (unsigned long round = 0; round < rounds && failures < 10; ++round) {
    std::vector<std::string> texts;
    const std::string pattern = grammar.pattern(texts);
    for (const auto& text : texts) {
      ++pairs;
      const int quick = match_without_regex(text.c_str(), pattern.c_str());
      if (quick == kNeedsRegex) continue;
      ++decided;
      const int expected = engine(pattern, text);
      matched += expected == 0;
      if (quick != expected) {
        ++failures;
        ADD_FAILURE() << "seed " << seed << " pattern " << testing::PrintToString(pattern)
                      << " text " << testing::PrintToString(text) << ": matcher " << quick
                      << ", regex engine " << expected << " (2: does not compile)";
      }
    }
  }
  RecordProperty("pairs", std::to_string(pairs));
  RecordProperty("decided", std::to_string(decided));
  RecordProperty("matched", std::to_string(matched));
  // Many pairs are decided, and matches are common among them.
  EXPECT_GT(decided, pairs / 3) << decided << " of " << pairs;
  EXPECT_GT(matched, decided / 5) << matched << " of " << decided;
}

struct Row {
  const char* pattern;
  const char* text;
};

// Every error: regcomp rejects the pattern, and the matcher leaves it to
// regcomp (which reports it) whatever the text.
TEST(PatternMatch, ErrorsAreLeftToRegcomp) {
  const Row rows[] = {
      {"\\(a", "a"},
      {"a\\)", "a"},  // unmatched group
      {"\\{1\\}a", "a"},
      {"^\\{1\\}", "a"},  // "\{" where an expression starts
      {"a**", "a"},
      {"a\\+*", "a"},
      {"a\\{0\\}*", "a"},  // repetition of a repetition
      {"a\\{\\}", "a"},
      {"a\\{x\\}", "a"},
      {"a\\{1", "a"},
      {"a\\{1,", "a"},  // bounds
      {"a\\{2,1\\}", "a"},
      {"a\\{32768\\}", "a"},
      {"a\\{1,2,3\\}", "a"},
      {"\\1", "a"},
      {"\\(a\\1\\)", "a"},
      {"\\(a\\)\\|\\1", "a"},  // back-references
      {"a\\", "a"},            // a trailing backslash
      {"[", "a"},
      {"[^", "a"},
      {"[a", "a"},
      {"[]", "a"},  // lists
      {"[a-c-e]", "a"},
      {"[z-a]", "a"},
      {"[a-[:alpha:]]", "a"},
      {"[[:alpha:]-z]", "a"},
      {"[[:foo:]]", "a"},
      {"[[=ab=]]", "a"},
      {"[[.ab.]]", "a"},
      {"[[=a", "a"},
      {"[[:abcdefghijklmnopqrstuvwxyz0123456:]]", "a"},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(engine(row.pattern, row.text), 2) << row.pattern << " (glibc accepts it)";
    EXPECT_EQ(match_without_regex(row.text, row.pattern), kNeedsRegex) << row.pattern;
  }
}

// Forms glibc accepts with meanings beyond POSIX's: the matcher decides them
// (the first rows) or leaves them to regexec, and never answers otherwise.
TEST(PatternMatch, GlibcBehaviours) {
  const struct {
    const char* pattern;
    const char* text;
    int expected;  // regexec's answer
    bool decided;  // by the matcher
  } rows[] = {
      {"a\\{,2\\}b", "aab", 0, true},          // "\{,n\}" is "\{0,n\}"
      {"xa\\{,\\}b", "xaaab", 0, true},        // "\{,\}" is "*"
      {"^a\\{\\01\\,2\\}$", "aa", 0, true},    // "\0" and "\," here are "0" and ","
      {"^x\\(ab\\)\\{0\\}y$", "xy", 0, true},  // "\{0\}" drops the atom
      {"^a*\\+$", "aaa", 0, true},             // "\+" after "*" is accepted
      {"^a\\nb\\}$", "anb}", 0, true},         // "\n" is "n", a lone "\}" is "}"
      {"^*a", "*a", 0, true},                  // "*" after an anchor is a byte
      {"a^b$c", "a^b$c", 0, true},             // anchors in the middle are bytes
      {"^a\\|^b", "xb", 1, true},              // "^" after "\|" anchors
      // "^" in a group also holds after a newline the match consumed.
      {"a.\\(^b\\)", "a\nb", 0, false},
      // "$" before "\)" lets the next atom match only a newline.
      {"\\(a$\\).", "a\n", 0, false},
      {"\\(a$\\).", "ab", 1, false},
      // Anchors in the copies of an interval are ignored.
      {"\\(^_x\\)\\{2,\\}", "_x_x", 0, false},
      // Read by the one reader, flagged, and left to regcomp: buffer and word
      // anchors, ranges above 0x7f or from "-", a collating range end, a
      // repeated empty group.
      {"\\`ab\\'", "ab", 0, false},
      {"\\bab\\>", "x ab", 0, false},
      {"^[\x80-\xff]$", "\xe9", 0, false},
      {"^[--/]$", ".", 0, false},
      {"^[a-[.c.]]$", "b", 0, false},
      {"^\\(\\)*a$", "a", 0, false},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(engine(row.pattern, row.text), row.expected) << row.pattern;
    const int quick = match_without_regex(row.text, row.pattern);
    EXPECT_EQ(quick, row.decided ? row.expected : kNeedsRegex) << row.pattern;
  }
  // Nor does deciding change errno, as a successful regcomp and regexec do not.
  errno = EDOM;
  EXPECT_EQ(match_without_regex("systemctl stop svc", "^systemctl \\(start\\|stop\\) svc$"), 0);
  EXPECT_EQ(errno, EDOM);
}

}  // namespace

namespace {

// A collation other than the C locale's (ranges, equivalence classes) leaves
// every pattern to the regex engine, as a multi-byte character set does.
TEST(PatternMatch, OnlyInTheCLocale) {
  EXPECT_EQ(match_without_regex("ls", "^uptime [a-z]*$"), 1);
  if (setlocale(LC_COLLATE, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8 locale";
  EXPECT_EQ(match_without_regex("ls", "^uptime [a-z]*$"), kNeedsRegex);
  setlocale(LC_COLLATE, "C");
  EXPECT_EQ(match_without_regex("ls", "^uptime [a-z]*$"), 1);
}

}  // namespace

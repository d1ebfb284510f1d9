#include "risks.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>

#include "automaton.h"
#include "budget.h"
#include "pattern.h"
#include "shell.h"
#include "white_list.h"

extern const char kShippedCommandRisks[];

namespace {

struct Rule {
  // runner, program, option, interactive, pager, package, secret
  std::string kind;
  std::string program;  // the program's name, without a directory; secret: none
  // option: the option; interactive, pager, package: a word among the
  // arguments; secret: the file's path
  std::string word;
  std::string unless;   // pager: no pager when this word is among the arguments
  std::string what;     // option: what it does
  std::string holds;    // package: what an argument holds when it names a file
  int positionals = 0;  // runner: words before the program it runs
};

struct Table {
  std::vector<Rule> rules;
  std::vector<std::string> problems;
};

void read_rules(const std::string& text, const std::string& origin, Table* table) {
  std::istringstream lines(text);
  std::string line;
  for (unsigned number = 1; std::getline(lines, line); ++number) {
    std::istringstream words(line);
    Rule r;
    if (!(words >> r.kind) || r.kind[0] == '#') continue;
    words >> r.program;
    std::string word;
    bool ok = !r.program.empty() && r.program.find('/') == std::string::npos;
    if (r.kind == "runner") {
      // A whole number; "2x" or one past int's range is no rule.
      if (words >> word) {
        const char* end = word.data() + word.size();
        const auto [stop, error] = std::from_chars(word.data(), end, r.positionals);
        ok = ok && error == std::errc() && stop == end;
      }
    } else if (r.kind == "option") {
      ok = ok && (words >> r.word) && std::getline(words >> std::ws, r.what) && !r.what.empty();
    } else if (r.kind == "interactive" || r.kind == "pager") {
      while (words >> word) {
        if (word[0] == '!' && r.kind == "pager" && word.size() > 1) {
          r.unless = word.substr(1);
        } else if (r.word.empty()) {
          r.word = word;
        } else {
          ok = false;
        }
      }
    } else if (r.kind == "package") {
      ok = ok && (words >> r.word);
      if (words >> r.holds) ok = ok && !(words >> word);
    } else if (r.kind == "secret") {
      // An absolute path; a directory's, with or without its final "/".
      r.word = r.program;
      r.program.clear();
      while (r.word.size() > 1 && r.word.back() == '/') r.word.pop_back();
      ok = r.word.size() > 1 && r.word[0] == '/' && !(words >> word);
    } else {
      ok = ok && r.kind == "program" && !(words >> word);
    }
    if (ok) {
      table->rules.push_back(r);
    } else {
      table->problems.push_back(origin + ":" + std::to_string(number) + ": not a rule: " + line);
    }
  }
}

const Table& table() {
  static const Table t = [] {
    Table loaded;
    read_rules(kShippedCommandRisks, "shipped table", &loaded);
    // The policy itself: whoever writes it decides what runs as root.
    loaded.rules.push_back({"secret", "", kPolicyPath, "", "", "", 0});
    // The administrator's table is optional; one that is there but cannot be
    // read is a problem, never a table without its rules.
    std::string text, problem;
    FILE* f = fopen(kRiskTablePath, "rb");
    if (f == nullptr && errno != ENOENT)
      problem = std::string("cannot be opened: ") + strerror(errno);
    if (f != nullptr) {
      char buffer[4096];
      for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
      if (ferror(f)) problem = std::string("cannot be read: ") + strerror(errno);
      (void)fclose(f);
    }
    if (problem.empty()) {
      read_rules(text, kRiskTablePath, &loaded);
    } else {
      loaded.problems.push_back(std::string(kRiskTablePath) + ": " + problem);
    }
    return loaded;
  }();
  return t;
}

// The languages of command lines that the risks are made of, built once.
class Shapes {
 public:
  const Language& rest() const { return rest_; }

  // A command line that runs program: its first word, or a runner's program.
  Language command(const std::string& program) const {
    return prefix().then(directory_).then(Language::text(program));
  }
  // The same, with a word among its arguments.
  Language command_with(const std::string& program, const Language& word) const {
    return command(program).then(words_).then(blanks_).then(word).then(rest_);
  }
  // Every command line that holds program's name as a word, or after a "/".
  Language mentioning(const std::string& program) const {
    return any_.then(Language::one_of(bytes_of(" \t/")))
        .optional()
        .then(Language::text(program))
        .then(rest_)
        .minimal();
  }

  // The command lines that have a rule's risk; runs: those that run its
  // program, which is the risk of a runner or a program, and of an
  // interactive program or a pager without a word. A package's word is
  // followed by a word that names a file: one holding holds, or without it,
  // one that is no option.
  Language risk_of(const Rule& r, const Language& runs) const {
    if (r.kind == "option") return command_with(r.program, option_word(r.word));
    if (r.kind == "secret") return naming({r.word});
    if (r.kind == "package") {
      const Language file = r.holds.empty()
                                ? Language::one_of(word_char_ & ~bytes_of("-")).then(word_chars_)
                                : word_chars_.then(Language::text(r.holds)).then(word_chars_);
      return command_with(r.program, Language::text(r.word).then(words_).then(blanks_).then(file));
    }
    Language l = r.word.empty() ? runs : command_with(r.program, Language::text(r.word));
    if (!r.unless.empty()) {
      l = l.without(any_.then(blank_).then(Language::text(r.unless)).then(rest_));
    }
    return l;
  }

  // A command line that names one of paths (or a file below it) as a word
  // or a word's end: after "=" ("if=", "--file="), "@" or a quote; its "/"
  // doubled or followed by "./" as the kernel allows. The paths are one
  // alternation between one start and one end: a union of such languages
  // each built whole grows exponentially as it is made deterministic.
  Language naming(const std::vector<std::string>& paths) const {
    const ByteSet path_chars = alnum_ | bytes_of("._-/+~");
    const Language slash =
        Language::text("/").then(Language::text("/").either(Language::text("./")).many());
    Language spelled = Language::none();
    for (const std::string& path : paths) {
      Language one = Language::empty_word();
      std::istringstream components(path.substr(1));
      for (std::string component; std::getline(components, component, '/');)
        one = one.then(slash).then(Language::text(component));
      spelled = spelled.either(one);
    }
    const Language before = any_.then(Language::one_of(all_bytes() & ~path_chars)).optional();
    const Language after =
        Language::one_of((all_bytes() & ~path_chars) | bytes_of("/")).then(any_).optional();
    return before.then(spelled).then(after);
  }

  // The words that give an option as the table writes it.
  Language option_word(const std::string& option) const {
    if (option.size() > 2 && option.compare(0, 2, "--") == 0) {
      return Language::text(option).then(Language::text("=").then(word_chars_).optional());
    }
    if (option.size() == 2 && option[0] == '-') {
      return Language::text("-")
          .then(Language::one_of(alnum_).many())
          .then(Language::text(option.substr(1)))
          .then(word_chars_);
    }
    if (option.back() == '=' || option.back() == ':')
      return Language::text(option).then(word_chars_);
    return Language::text(option);
  }

  // Over marked command lines (translate_pattern): a byte of set, fixed or
  // supplied by a variable part; one that a variable part supplies; any text.
  Language sym(const ByteSet& set) const { return mark_.optional().then(Language::one_of(set)); }
  Language sym(const std::string& chars) const { return sym(bytes_of(chars)); }
  Language variable(const std::string& chars) const {
    return mark_.then(Language::one_of(bytes_of(chars)));
  }
  const Language& any_marked() const { return any_marked_; }

  // The start of a command line up to the program that runs: blanks and at
  // most one runner with its arguments. Built when first needed, since only
  // an entry that may run a program of the table needs it.
  const Language& prefix() const {
    if (prefix_.is_empty()) {
      Language runners = Language::none();
      for (const Rule& r : table().rules) {
        if (r.kind != "runner") continue;
        Language one = directory_.then(Language::text(r.program)).then(arguments_);
        for (int i = 0; i < r.positionals && i < 8; ++i) {
          one = one.then(blanks_).then(word_).then(arguments_);
        }
        runners = runners.either(one.then(blanks_));
      }
      // One runner at most: chains of them make the automata grow beyond use.
      prefix_ = blank_.many().then(runners.optional()).minimal();
    }
    return prefix_;
  }

  // Marked command lines in which a variable part supplies one of chars
  // (any byte when chars is empty); built once for each.
  const Language& around(const std::string& chars) const {
    auto [found, added] = around_.try_emplace(chars, Language::none());
    if (added) {
      const Language part =
          chars.empty() ? mark_.then(Language::one_of(all_bytes())) : variable(chars);
      found->second = any_marked_.then(part).then(any_marked_);
    }
    return found->second;
  }

  // Over marked command lines: a metacharacter that a variable part supplies
  // starting a second program, "id", that the shell runs: after ";" (the
  // first choice), or after "|", "&", a newline, or in "`id`" or "$(id)".
  // What makes an example of the risk tell.
  const Language& second_program(bool semicolon) const {
    Language& built = second_[semicolon ? 0 : 1];
    if (built.is_empty()) {
      const Language id = sym("i").then(sym("d"));
      const Language after = sym(" \t;|&\n").then(any_marked_).optional();
      Language run =
          variable(semicolon ? ";" : "|&\n").then(sym(" \t").many()).then(id).then(after);
      if (!semicolon) {
        run = run.either(variable("`")
                             .then(id)
                             .then(sym("`"))
                             .either(variable("$").then(sym("(")).then(id).then(sym(")")))
                             .then(any_marked_));
      }
      built = any_marked_.then(run);
    }
    return built;
  }

  // Command lines with "*", "?" or "[" outside quotes; built once.
  const Language& glob() const {
    if (!glob_.is_empty()) return glob_;
    const Language plain = Language::one_of(all_bytes() & ~bytes_of("'\"\\*?["));
    const Language single = Language::text("'")
                                .then(Language::one_of(all_bytes() & ~bytes_of("'")).many())
                                .then(Language::text("'"));
    const Language escaped = Language::text("\\").then(Language::one_of(all_bytes()));
    const Language in_double = Language::one_of(all_bytes() & ~bytes_of("\"\\")).either(escaped);
    const Language dbl = Language::text("\"").then(in_double.many()).then(Language::text("\""));
    const Language unquoted = plain.either(single).either(dbl).either(escaped).many();
    glob_ = unquoted.then(Language::one_of(bytes_of("*?["))).then(any_);
    return glob_;
  }

 private:
  ByteSet alnum_ = bytes_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789");
  ByteSet word_char_ = all_bytes() & ~bytes_of(" \t\n");
  Language word_chars_ = Language::one_of(word_char_).many();
  Language any_ = Language::anything(), blank_ = Language::one_of(bytes_of(" \t"));
  Language blanks_ = blank_.repeat(1, -1), word_ = Language::one_of(word_char_).repeat(1, -1);
  Language words_ = blanks_.then(word_).many();  // each after blanks
  Language rest_ = blank_.then(any_).optional();
  Language directory_ = word_chars_.then(Language::text("/")).optional();
  // A runner's own arguments: options, assignments (env) and numbers.
  Language arguments_ =
      blanks_
          .then(Language::text("-")
                    .then(word_chars_)
                    .either(Language::one_of(word_char_ & ~bytes_of("="))
                                .many()
                                .then(Language::text("="))
                                .then(word_chars_))
                    .either(Language::one_of(bytes_of("0123456789")).then(word_chars_)))
          .many();
  Language mark_ = Language::mark(), any_marked_ = sym(all_bytes()).many();
  mutable std::map<std::string, Language> around_;
  mutable Language prefix_ = Language::none(), glob_ = Language::none();
  mutable Language second_[2] = {Language::none(), Language::none()};
};

// One risk of the table: its language, built once, and how it is named.
struct TableRisk {
  const Rule* rule;
  const char* code;  // the finding it gives
  Language language;
  std::string name;
};

// What an entry admits of one kind of risk: its command lines that have the
// risk, a language for each rule of the table (or each metacharacter) that
// it meets, not united, since their union can need far more states than all
// of them together; and the names of what it meets, as the message lists
// them.
struct Met {
  std::vector<Language> languages;
  std::vector<std::string> names = {};
};

class EntryRisks;

// How a kind of risk is looked for and said.
enum KindFlags : unsigned {
  kThrough = 1,        // the finding names the part of the pattern that admits it
  kUnanchored = 2,     // looked for in a pattern not anchored at both ends, too
  kMootWhenNamed = 4,  // says nothing more when a variable part names the program
  kVaries = 8          // only where a variable part supplies a byte (varies_)
};

// One kind of risk: its finding, the message that says what an entry admits
// of it ("%" stands for the names of what it meets), and how it is met. A
// kind made of rules of the table (rules) has a language for each rule
// (Shapes::risk_of); every kind finds the entry's command lines that have it
// (met).
struct RiskKind {
  const char* code;
  const char* rules;  // the kinds of table rule it is made of, separated by blanks
  unsigned flags;     // KindFlags
  Met (EntryRisks::*met)(const RiskKind&);
  std::string what, why;  // the message, before and after ": "
};

extern const std::vector<RiskKind> kKinds;

// The kind that a rule of the table belongs to; every rule that read_rules
// takes has one.
const RiskKind& kind_of(const Rule& rule) {
  for (const RiskKind& k : kKinds) {
    std::istringstream rules(k.rules);
    for (std::string kind; rules >> kind;) {
      if (kind == rule.kind) return k;
    }
  }
  throw std::logic_error("no kind of risk for rule " + rule.kind);
}

// How a rule is named in a finding: its program, with its word and what it
// does when it has them.
std::string rule_name(const Rule& r) {
  std::string name = r.program;
  if (!r.word.empty()) name += (name.empty() ? "" : " ") + r.word;
  if (!r.what.empty()) name += " (" + r.what + ")";
  return name;
}

// The table's risks of one program, or those of no program (secret files,
// program empty), with the command lines that run it at all (a quick first
// test).
struct ProgramRisks {
  // Every command line that holds the program's name as a word, or after a
  // "/": a cheap first test, the command lines that run it (runs) are among
  // them. For no program: every command line that names one of its files.
  Language mentions = Language::none();
  Language runs = Language::none();
  std::vector<const Rule*> rules;
  std::vector<TableRisk> risks;  // of its rules; never empty once built

  // Whether an entry of language entry may run program, this group's; the
  // languages of its rules are built when an entry first may.
  bool run_by(const std::string& program, const Language& entry, const Shapes& s) {
    if (entry.both(mentions).is_empty()) return false;
    if (!program.empty()) {
      if (runs.is_empty()) runs = s.command(program).then(s.rest());
      if (entry.both(runs).is_empty()) return false;
    }
    if (!risks.empty()) return true;
    for (const Rule* rule : rules) {
      const RiskKind& kind = kind_of(*rule);
      const std::string name = rule_name(*rule);
      // A program that is both a runner and a program is one name.
      if (std::any_of(risks.begin(), risks.end(),
                      [&](const TableRisk& r) { return r.code == kind.code && r.name == name; }))
        continue;
      risks.push_back({rule, kind.code, s.risk_of(*rule, runs), name});
    }
    return true;
  }
};

struct Risks {
  Shapes shapes;
  std::map<std::string, ProgramRisks> programs;

  Risks() {
    std::vector<std::string> secrets;
    for (const Rule& r : table().rules) {
      programs[r.program].rules.push_back(&r);
      if (r.program.empty()) secrets.push_back(r.word);
    }
    for (auto& [program, p] : programs) {
      p.mentions = program.empty() ? shapes.naming(secrets).minimal() : shapes.mentioning(program);
    }
  }
};

Risks& risks() {
  static Risks r;
  return r;
}

// Whether the pattern itself spells name as a word: then a command line that
// runs it is what the entry's writer meant.
bool spelled(const std::string& pattern, const std::string& name) {
  for (size_t at = pattern.find(name); at != std::string::npos; at = pattern.find(name, at + 1)) {
    const size_t end = at + name.size();
    const bool before = at == 0 || std::string("^ /(|").find(pattern[at - 1]) != std::string::npos;
    const bool after =
        end == pattern.size() || std::string(" $\\").find(pattern[end]) != std::string::npos;
    if (before && after) return true;
  }
  return false;
}

// At most a few names, then how many more.
std::string some(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size() && i < 4; ++i) out += (i == 0 ? "" : ", ") + names[i];
  if (names.size() > 4) out += " and " + std::to_string(names.size() - 4) + " more";
  return out;
}

// The message of a kind, with names for "%".
std::string with_names(std::string text, const std::string& names) {
  const size_t at = text.find('%');
  return at == std::string::npos ? text : text.replace(at, 1, names);
}

RiskFinding finding(const RiskKind& kind, const std::string& names, const std::string& through) {
  return {kind.code, with_names(kind.what, names), through, with_names(kind.why, names), ""};
}

class EntryRisks {
 public:
  EntryRisks(const std::string& pattern, const Language& plain)
      : pattern_(pattern), e_(plain), marked_(translate_pattern(pattern, true).language) {}

  // With metachars_only, only the kinds looked for in a pattern not
  // anchored at both ends.
  std::vector<RiskFinding> all(bool metachars_only) {
    std::vector<RiskFinding> out;
    for (const RiskKind& kind : kKinds) {
      if (metachars_only && (kind.flags & kUnanchored) == 0) continue;
      if ((kind.flags & kMootWhenNamed) != 0 && program_named_) continue;
      if ((kind.flags & kVaries) != 0 && !varies_) continue;
      const Met met = (this->*kind.met)(kind);
      std::string example;
      if (!shortest(met.languages, &example)) continue;
      RiskFinding f =
          finding(kind, some(met.names),
                  (kind.flags & kThrough) != 0 ? pattern_shape(pattern_).admitted_by : "");
      if (check_regexp(example.c_str(), pattern_.c_str()) == 0) {
        f.example = example;
      } else {
        (f.why.empty() ? f.what : f.why) +=
            " (no example: the model and the gate's matcher disagree)";
      }
      out.push_back(f);
    }
    return out;
  }

  // How the kinds meet the entry.

  // A second command, a pipe, a substitution, a redirection, a background
  // job: a metacharacter that a variable part supplies.
  // Its example runs a second program where the entry admits one.
  Met metachars(const RiskKind&) {
    const Language met = marked_.both(s_.around(kShellMetachars));
    if (met.is_empty()) return Met();
    std::string admitted;
    for (const char* m = kShellMetachars; *m != '\0'; ++m) {
      if (!marked_.both(s_.around(std::string(1, *m))).is_empty()) admitted += *m;
    }
    for (bool semicolon : {true, false}) {
      const Language second = marked_.both(s_.second_program(semicolon));
      if (!second.is_empty()) return {{second}, {listed_chars(admitted)}};
    }
    return {{met}, {listed_chars(admitted)}};
  }

  // ".." as a path component, a dot of it supplied by a variable part,
  // below a directory that the fixed text names.
  Met climb(const RiskKind&) {
    const Language dots =
        s_.variable(".").then(s_.sym(".")).either(Language::text(".").then(s_.variable(".")));
    const Language climb =
        s_.any_marked()
            .then(Language::text("/"))
            .then(s_.sym(all_bytes() & ~bytes_of(" \t\n")).many().then(s_.sym("/")).optional())
            .then(dots)
            .then(s_.sym("/ \t\n;&|<>").then(s_.any_marked()).optional());
    return {{marked_.both(climb)}};
  }

  // A program of the table that the pattern does not spell itself.
  Met named(const RiskKind& kind) {
    Met met = table(kind, [&](const TableRisk& r) {
      return spelled(pattern_, r.rule->program) ? Language::none() : e_.both(r.language);
    });
    program_named_ = !met.languages.empty();
    return met;
  }

  // An option that the pattern's fixed text does not supply.
  Met option(const RiskKind& kind) {
    return table(kind, [&](const TableRisk& r) { return varying(r.language, r.rule->word[0]); });
  }

  // Any command line of the rule's language.
  Met plain(const RiskKind& kind) {
    return table(kind, [&](const TableRisk& r) { return e_.both(r.language); });
  }

  Met comment(const RiskKind&) {
    return {{marked_.both(
        s_.any_marked().then(s_.sym(" \t")).then(s_.variable("#")).then(s_.any_marked()))}};
  }

  // A file-name pattern: a warning where the program has options in the
  // table (a file name can become one of them), otherwise a note.
  Met glob_option(const RiskKind&) { return has_options() ? glob() : Met(); }
  Met glob_only(const RiskKind&) { return has_options() ? Met() : glob(); }

 private:
  // The shortest word of the languages; false when they are all empty.
  static bool shortest(const std::vector<Language>& languages, std::string* example) {
    bool found = false;
    for (const Language& l : languages) {
      std::string word;
      if (l.is_empty() || !l.shortest(&word)) continue;
      if (!found || word.size() < example->size()) *example = word;
      found = true;
    }
    return found;
  }

  // The table's risks of kind that meet gives a command line of the entry.
  template <typename Meet>
  Met table(const RiskKind& kind, Meet meet) {
    Met met;
    for (ProgramRisks* p : run()) {
      for (const TableRisk& r : p->risks) {
        if (r.code != kind.code) continue;
        const Language l = meet(r);
        if (l.is_empty()) continue;
        met.names.push_back(r.name);
        met.languages.push_back(l);
      }
    }
    return met;
  }

  // The table's groups of risks that the entry may run, in the table's
  // order of programs (secret files are everyone's), built once.
  const std::vector<ProgramRisks*>& run() {
    if (!run_built_) {
      // Where every command line of the entry begins with the same word,
      // that word names the program, unless it is a runner: a cheap first
      // test before the exact one.
      std::string start, end, first;
      e_.fixed_ends(&start, &end);
      const size_t blank = start.find_first_of(" \t");
      if (blank != std::string::npos && blank > 0) {
        first = start.substr(0, blank);
        first = first.substr(first.rfind('/') == std::string::npos ? 0 : first.rfind('/') + 1);
        for (const Rule& r : ::table().rules) {
          if (r.kind == "runner" && r.program == first) first.clear();
        }
      }
      for (auto& [program, p] : risks().programs) {
        if (!first.empty() && !program.empty() && program != first) continue;
        if (p.run_by(program, e_, s_)) run_.push_back(&p);
      }
      run_built_ = true;
    }
    return run_;
  }

  bool has_options() {
    for (ProgramRisks* p : run()) {
      for (const TableRisk& r : p->risks) {
        if (std::string(r.code) == "risky-option") return true;
      }
    }
    return false;
  }

  Met glob() const { return {{e_.both(s_.glob())}}; }

  // The entry's command lines in risk whose bytes in supplied_by cannot all
  // come from the pattern's fixed text.
  Language varying(const Language& risk, char supplied_by) {
    auto [found, added] = without_.try_emplace(supplied_by, Language::none());
    if (added) found->second = translate_pattern(pattern_, false, bytes_of({supplied_by})).language;
    return e_.both(risk).without(found->second);
  }

  const Shapes& s_ = risks().shapes;
  const std::string& pattern_;
  Language e_, marked_;
  std::map<char, Language> without_;
  std::vector<ProgramRisks*> run_;
  bool run_built_ = false;
  bool program_named_ = false;
  // Whether a variable part supplies a byte at all: a pattern without one (a
  // literal command line) has none of the risks that a variable part brings.
  bool varies_ = !marked_.both(s_.around("")).is_empty();
};

// The kinds of risk, in the order of their findings.
// The glob kinds differ only in what the expansion can lead to.
constexpr char kGlobAdmitted[] = "admits \"*\", \"?\" or \"[\" outside quotes";

const std::vector<RiskKind> kKinds = {
    {"shell-metachar", "", kThrough | kUnanchored | kVaries, &EntryRisks::metachars, "admits %",
     std::string("the shell would run ") + kShellMetacharMeaning + " that the pattern lets in"},
    {"path-climb", "", kVaries, &EntryRisks::climb, "admits \"..\" below a directory it names",
     "the command reaches files outside it"},
    {"names-program", "runner program", 0, &EntryRisks::named,
     "lets a variable part name the program that runs (%), which then runs whatever the rest "
     "of the line gives it",
     ""},
    {"risky-option", "option", kVaries, &EntryRisks::option,
     "lets a variable part add an option that runs a program or reads or writes a file of the "
     "caller's choosing",
     "%"},
    {"interactive", "interactive", kMootWhenNamed, &EntryRisks::plain,
     "admits an interactive program (%)",
     "whoever starts the gate on a terminal can edit any file or start a shell as root"},
    {"pager", "pager", kMootWhenNamed, &EntryRisks::plain,
     "admits a program that shows its output through a pager (%)",
     "the gate gives it \"cat\" as its pager"},
    {"comment", "", kVaries, &EntryRisks::comment, "admits \"#\" after a blank",
     "the shell reads the rest of the line, the entry's fixed tail included, as a comment"},
    {"glob-option", "", 0, &EntryRisks::glob_option, kGlobAdmitted,
     "the shell expands them to the names of files in the directory the command runs in, and "
     "a file name can be an option of the program that runs"},
    {"glob", "", 0, &EntryRisks::glob_only, kGlobAdmitted,
     "the shell expands them to the names of files in the directory the command runs in"},
    {"package-file", "package", 0, &EntryRisks::plain, "installs a package from a file (%)",
     "its maintainer scripts run as root, so whoever can choose or write the file runs what "
     "they like as root"},
    {"secret-file", "secret", 0, &EntryRisks::plain,
     "lets the command name a file that keeps secrets or decides who is root (%)",
     "run as root, the command can read or write it"},
};

}  // namespace

RiskFinding risk_finding(const std::string& code, const std::string& names,
                         const std::string& through) {
  for (const RiskKind& kind : kKinds) {
    if (code == kind.code) return finding(kind, names, through);
  }
  throw std::logic_error("no kind of risk " + code);
}

struct SectionAnalysis::Earlier {
  Earlier(unsigned i, const Language& l) : index(i), language(l.minimal()) {
    language.fixed_ends(&start, &end);
  }
  unsigned index;
  Language language;       // minimal
  std::string start, end;  // what all its command lines begin and end with
};

SectionAnalysis::SectionAnalysis(bool compare)
    : compare_(compare),
      worker_(std::make_unique<Worker>([this](const std::string& r) { return answer(r); })) {}
SectionAnalysis::~SectionAnalysis() = default;

std::vector<std::string> SectionAnalysis::table_problems() {
  return table().problems;
}

std::string SectionAnalysis::answer(const std::string& request) {
  size_t at = 0;
  std::string pattern, index_text, shell_text;
  take_fields(request, &at, &pattern, &index_text, &shell_text);
  const unsigned index = static_cast<unsigned>(std::stoul(index_text));
  const auto shell = static_cast<Shell>(std::stoi(shell_text));
  // A child forked after others ended builds the automata of the entries
  // analysed before it first.
  if (earlier_.empty()) {
    for (const auto& [i, p] : analysed_) earlier_.emplace_back(i, translate_pattern(p).language);
  }
  std::vector<RiskFinding> out;
  const Translation exact = translate_pattern(pattern);
  if (!exact.analysed) {
    out.push_back({"not-analysed", "was not analysed exactly", "",
                   "it holds " + exact.why_not + "; only its tokens were checked", ""});
  } else if (shell != Shell::kNone) {
    out = EntryRisks(pattern, exact.language).all(shell == Shell::kMetacharsOnly);
  }
  if (exact.analysed && compare_) {
    const Earlier entry(index, exact.language);
    // Only the earlier entries that can match a command line in common
    // with this one are compared with it.
    Language before = Language::none();
    std::string names;
    for (const Earlier& e : earlier_) {
      if (!ends_may_meet(e.start, e.end, entry.start, entry.end)) continue;
      if (e.language.both(entry.language).is_empty()) continue;
      before = before.either(e.language);
      names += (names.empty() ? "[" : ", [") + std::to_string(e.index) + "]";
    }
    if (!names.empty() && entry.language.within(before)) {
      out.push_back({"unreachable", "never matches first", "",
                     "every command line it matches is matched by entry " + names +
                         " before it, and the first match decides",
                     ""});
    }
    earlier_.push_back(entry);
  }
  std::string reply;
  put_field(&reply, exact.analysed ? "1" : "0");
  for (const RiskFinding& f : out) put_fields(&reply, f.code, f.what, f.through, f.why, f.example);
  return reply;
}

std::vector<RiskFinding> SectionAnalysis::next(const std::string& pattern, unsigned index,
                                               Shell shell) {
  std::string request, reply, why_not;
  put_fields(&request, pattern, std::to_string(index), std::to_string(static_cast<int>(shell)));
  if (!worker_->ask(request, &reply, &why_not)) {
    return {{"not-analysed", "was not analysed", "",
             "its analysis " + why_not + "; only its tokens were checked", ""}};
  }
  std::vector<RiskFinding> out;
  size_t at = 0;
  std::string analysed;
  take_field(reply, &at, &analysed);
  if (analysed == "1" && compare_) analysed_.emplace_back(index, pattern);
  for (RiskFinding f; take_fields(reply, &at, &f.code, &f.what, &f.through, &f.why, &f.example);)
    out.push_back(f);
  return out;
}

std::vector<RiskFinding> pattern_risks(const std::string& pattern) {
  // One child for all the patterns of a run, its automata built once.
  static SectionAnalysis single(false);
  return single.next(pattern, 0, SectionAnalysis::Shell::kAll);
}

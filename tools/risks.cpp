#include "risks.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <map>
#include <sstream>
#include <stdexcept>

#include "automaton.h"
#include "white_list.h"

extern const char kShippedCommandRisks[];

namespace {

// Characters that give a shell command line a meaning beyond one simple
// command: a second command, a pipe, a substitution, a redirection, a
// background job.
constexpr char kShellMetachars[] = ";|&`$<>\n";

struct Rule {
  std::string kind;     // runner, program, option, interactive, pager
  std::string program;  // the program's name, without a directory
  std::string word;     // option: the option; interactive, pager: a word among the arguments
  std::string unless;   // pager: no pager when this word is among the arguments
  std::string what;     // option: what it does
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
    std::istringstream fields(line);
    Rule r;
    if (!(fields >> r.kind) || r.kind[0] == '#') continue;
    fields >> r.program;
    std::string rest, word;
    std::getline(fields >> std::ws, rest);
    std::istringstream words(rest);
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
    } else {
      ok = ok && r.kind == "program" && rest.empty();
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
    // The administrator's table is optional; one that is there but cannot be
    // read is a problem, never a table without its rules.
    FILE* f = fopen(kRiskTablePath, "rb");
    if (f == nullptr && errno != ENOENT) {
      loaded.problems.push_back(std::string(kRiskTablePath) +
                                ": cannot be opened: " + strerror(errno));
    } else if (f != nullptr) {
      std::string text;
      char buffer[4096];
      for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
      const int error = ferror(f) ? errno : 0;
      (void)fclose(f);
      if (error != 0) {
        loaded.problems.push_back(std::string(kRiskTablePath) +
                                  ": cannot be read: " + strerror(error));
      } else {
        read_rules(text, kRiskTablePath, &loaded);
      }
    }
    return loaded;
  }();
  return t;
}

// The languages of command lines that the risks are made of, built once.
class Shapes {
 public:
  Shapes() {
    any_ = Language::anything();
    blank_ = Language::one_of(bytes_of(" \t"));
    blanks_ = blank_.repeat(1, -1);
    word_char_ = all_bytes() & ~bytes_of(" \t\n");
    const Language wc = Language::one_of(word_char_);
    word_ = wc.repeat(1, -1);
    rest_ = Language::empty_word().either(blank_.then(any_));
    directory_ = Language::empty_word().either(wc.many().then(Language::text("/")));
    // A runner's own arguments: options, assignments (env) and numbers.
    ByteSet digits;
    for (char c = '0'; c <= '9'; ++c) digits.set(static_cast<unsigned char>(c));
    const Language argument = Language::text("-")
                                  .then(wc.many())
                                  .either(Language::one_of(word_char_ & ~bytes_of("="))
                                              .many()
                                              .then(Language::text("="))
                                              .then(wc.many()))
                                  .either(Language::one_of(digits).then(wc.many()));
    arguments_ = blanks_.then(argument).many();
    mark_ = Language::mark();
    any_marked_ = sym(all_bytes()).many();
  }

  const Language& any() const { return any_; }
  const Language& blank() const { return blank_; }
  const Language& rest() const { return rest_; }

  // A command line that runs program: its first word, or a runner's program.
  Language command(const std::string& program) const {
    return prefix().then(directory_).then(Language::text(program));
  }
  // The same, with a word among its arguments.
  Language command_with(const std::string& program, const Language& word) const {
    return command(program).then(blanks_.then(word_).many()).then(blanks_).then(word).then(rest_);
  }

  // The words that give an option as the table writes it.
  Language option_word(const std::string& option) const {
    const Language wc = Language::one_of(word_char_);
    if (option.size() > 2 && option.compare(0, 2, "--") == 0) {
      return Language::text(option).then(
          Language::empty_word().either(Language::text("=").then(wc.many())));
    }
    if (option.size() == 2 && option[0] == '-') {
      ByteSet letters;
      for (unsigned c = 0; c < 256; ++c) letters.set(c, isalnum(static_cast<int>(c)) != 0);
      return Language::text("-")
          .then(Language::one_of(letters).many())
          .then(Language::text(option.substr(1)))
          .then(wc.many());
    }
    if (option.back() == '=' || option.back() == ':') return Language::text(option).then(wc.many());
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
    if (!prefix_built_) {
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
      prefix_built_ = true;
    }
    return prefix_;
  }

  // Text that the shell reads outside quotes, followed by one of chars.
  Language unquoted_then(const std::string& chars) const {
    const Language plain = Language::one_of(all_bytes() & ~bytes_of("'\"\\") & ~bytes_of(chars));
    const Language single = Language::text("'")
                                .then(Language::one_of(all_bytes() & ~bytes_of("'")).many())
                                .then(Language::text("'"));
    const Language escaped = Language::text("\\").then(Language::one_of(all_bytes()));
    const Language in_double = Language::one_of(all_bytes() & ~bytes_of("\"\\")).either(escaped);
    const Language dbl = Language::text("\"").then(in_double.many()).then(Language::text("\""));
    return plain.either(single).either(dbl).either(escaped).many().then(
        Language::one_of(bytes_of(chars)));
  }

 private:
  Language any_ = Language::none(), blank_ = Language::none(), blanks_ = Language::none();
  Language word_ = Language::none(), rest_ = Language::none(), directory_ = Language::none();
  Language arguments_ = Language::none(), mark_ = Language::none();
  Language any_marked_ = Language::none();
  mutable Language prefix_ = Language::none();
  mutable bool prefix_built_ = false;
  ByteSet word_char_;
};

// One risk of the table: its language, built once, and how it is named.
struct TableRisk {
  const Rule* rule;
  Language language;
  std::string name;
};

// The table's risks, grouped by program, each group with the command lines
// that run its program at all (a quick first test).
struct ProgramRisks {
  // Every command line that holds the program's name as a word, or after a
  // "/": a cheap first test, the command lines that run it (runs) are among
  // them.
  Language mentions = Language::none();
  Language runs = Language::none();
  bool runs_built = false;
  std::vector<const Rule*> rules;
  bool built = false;
  std::vector<TableRisk> names, options, interactive, pagers;

  // Whether an entry of language entry may run the program; the program's
  // languages are built when an entry first may.
  bool run_by(const Language& entry, const Shapes& s) {
    if (entry.both(mentions).is_empty()) return false;
    if (!runs_built) {
      runs = s.command(rules.front()->program).then(s.rest()).minimal();
      runs_built = true;
    }
    if (entry.both(runs).is_empty()) return false;
    build(s);
    return true;
  }

  // The languages of the rules, built when an entry first runs the program.
  void build(const Shapes& s) {
    if (built) return;
    built = true;
    for (const Rule* rule : rules) {
      const Rule& r = *rule;
      if (r.kind == "program" || r.kind == "runner") {
        if (names.empty()) names.push_back({&r, runs, r.program});
      } else if (r.kind == "option") {
        options.push_back({&r, s.command_with(r.program, s.option_word(r.word)).minimal(),
                           r.program + " " + r.word + " (" + r.what + ")"});
      } else {
        Language l = r.word.empty() ? runs : s.command_with(r.program, Language::text(r.word));
        if (!r.unless.empty()) {
          l = l.without(s.any().then(s.blank()).then(Language::text(r.unless)).then(s.rest()));
        }
        const std::string name = r.program + (r.word.empty() ? "" : " " + r.word);
        (r.kind == "interactive" ? interactive : pagers).push_back({&r, l.minimal(), name});
      }
    }
  }
};

struct Risks {
  Shapes shapes;
  std::map<std::string, ProgramRisks> programs;

  Risks() {
    for (const Rule& r : table().rules) {
      ProgramRisks& p = programs[r.program];
      if (p.rules.empty()) {
        p.mentions = Language::empty_word()
                         .either(shapes.any().then(Language::one_of(bytes_of(" \t/"))))
                         .then(Language::text(r.program))
                         .then(shapes.rest())
                         .minimal();
      }
      p.rules.push_back(&r);
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

std::string listed(const std::string& chars) {
  std::string out;
  for (char m : chars) {
    if (!out.empty()) out += ", ";
    out += m == '\n' ? std::string("newline") : "\"" + std::string(1, m) + "\"";
  }
  return out;
}

// At most a few names, then how many more.
std::string some(const std::vector<std::string>& names) {
  std::string out;
  for (size_t i = 0; i < names.size() && i < 4; ++i) out += (i == 0 ? "" : ", ") + names[i];
  if (names.size() > 4) out += " and " + std::to_string(names.size() - 4) + " more";
  return out;
}

class EntryRisks {
 public:
  EntryRisks(const std::string& pattern, const Language& plain)
      : pattern_(pattern), e_(plain), marked_(translate_pattern(pattern, true).language) {}

  // A finding when the entry (plain or marked) meets one of the risks, with
  // the shortest command line that shows it. The languages are not united:
  // their union can need far more states than all of them together.
  bool add(std::vector<RiskFinding>* out, const std::string& code, const std::vector<Language>& met,
           const std::string& message) const {
    std::string example;
    bool found = false;
    for (const Language& l : met) {
      std::string word;
      if (l.is_empty() || !l.shortest(&word)) continue;
      if (!found || word.size() < example.size()) example = word;
      found = true;
    }
    if (!found) return false;
    RiskFinding f{code, message, ""};
    if (check_regexp(example.c_str(), pattern_.c_str()) == 0) {
      f.example = example;
    } else {
      f.message += " (no example: the model and the gate's matcher disagree)";
    }
    out->push_back(f);
    return true;
  }
  bool add(std::vector<RiskFinding>* out, const std::string& code, const Language& met,
           const std::string& message) const {
    return add(out, code, std::vector<Language>{met}, message);
  }

  // The entry's command lines in risk whose bytes in supplied_by cannot all
  // come from the pattern's fixed text.
  Language varying(const Language& risk, char supplied_by) {
    auto found = without_.find(supplied_by);
    if (found == without_.end()) {
      found = without_
                  .emplace(supplied_by,
                           translate_pattern(pattern_, false, bytes_of(std::string(1, supplied_by)))
                               .language)
                  .first;
    }
    return e_.both(risk).without(found->second);
  }

  // With metachars_only, the first risk alone.
  std::vector<RiskFinding> all(bool metachars_only) {
    std::vector<RiskFinding> out;
    Risks& t = risks();
    const Shapes& s = t.shapes;
    // A second command, a pipe, a substitution, a redirection, a background
    // job: a metacharacter that a variable part supplies.
    std::string admitted;
    for (const char* m = kShellMetachars; *m != '\0'; ++m) {
      const Language one = s.any_marked().then(s.variable(std::string(1, *m))).then(s.any_marked());
      if (!marked_.both(one).is_empty()) admitted += *m;
    }
    add(&out, "shell-metachar",
        marked_.both(s.any_marked().then(s.variable(kShellMetachars)).then(s.any_marked())),
        "admits " + listed(admitted) +
            ": the shell would run a second command, a pipe, a substitution, a redirection or a "
            "background job that the pattern lets in");
    if (metachars_only) return out;
    // ".." as a path component, a dot of it supplied by a variable part,
    // below a directory that the fixed text names.
    const Language dots =
        s.variable(".").then(s.sym(".")).either(Language::text(".").then(s.variable(".")));
    const Language climb =
        s.any_marked()
            .then(Language::text("/"))
            .then(Language::empty_word().either(
                s.sym(all_bytes() & ~bytes_of(" \t\n")).many().then(s.sym("/"))))
            .then(dots)
            .then(Language::empty_word().either(s.sym("/ \t\n;&|<>").then(s.any_marked())));
    add(&out, "path-climb", marked_.both(climb),
        "admits \"..\" below a directory it names: the command reaches files outside it");
    // The table's programs, options, interactive programs and pagers.
    std::vector<std::string> names, options, interactive, pagers;
    std::vector<Language> named, optioned, edits, pages;
    bool has_options = false;
    for (auto& [program, p] : t.programs) {
      if (!p.run_by(e_, s)) continue;
      has_options = has_options || !p.options.empty();
      for (const TableRisk& r : p.names) {
        if (spelled(pattern_, program)) continue;
        names.push_back(r.name);
        named.push_back(e_.both(r.language));
      }
      for (const TableRisk& r : p.options) {
        const Language l = varying(r.language, r.rule->word[0]);
        if (l.is_empty()) continue;
        options.push_back(r.name);
        optioned.push_back(l);
      }
      for (const TableRisk& r : p.interactive) {
        const Language l = e_.both(r.language);
        if (l.is_empty()) continue;
        interactive.push_back(r.name);
        edits.push_back(l);
      }
      for (const TableRisk& r : p.pagers) {
        const Language l = e_.both(r.language);
        if (l.is_empty()) continue;
        pagers.push_back(r.name);
        pages.push_back(l);
      }
    }
    add(&out, "names-program", named,
        "lets a variable part name the program that runs (" + some(names) +
            "), which then runs whatever the rest of the line gives it");
    add(&out, "risky-option", optioned,
        "lets a variable part add an option that runs a program or reads or writes a file of "
        "the caller's choosing: " +
            some(options));
    // With the program itself variable, these say nothing more.
    if (names.empty()) {
      add(&out, "interactive", edits,
          "admits an interactive program (" + some(interactive) +
              "): whoever starts the gate on a terminal can edit any file or start a shell as "
              "root");
      add(&out, "pager", pages,
          "admits a program that shows its output through a pager (" + some(pagers) +
              "): the gate gives it \"cat\" as its pager");
    }
    add(&out, "comment",
        marked_.both(s.any_marked().then(s.sym(" \t")).then(s.variable("#")).then(s.any_marked())),
        "admits \"#\" after a blank: the shell reads the rest of the line, the entry's fixed "
        "tail included, as a comment");
    // A warning (glob-option) where the program has options in the table: a
    // file name can become one of them; otherwise a note.
    add(&out, has_options ? "glob-option" : "glob", e_.both(s.unquoted_then("*?[").then(s.any())),
        std::string("admits \"*\", \"?\" or \"[\" outside quotes: the shell expands them to the "
                    "names of files in the directory the command runs in") +
            (has_options ? ", and a file name can be an option of the program that runs" : ""));
    return out;
  }

 private:
  const std::string& pattern_;
  Language e_, marked_;
  std::map<char, Language> without_;
};

}  // namespace

struct SectionAnalysis::Earlier {
  unsigned index;
  Language language;
};

SectionAnalysis::SectionAnalysis() = default;
SectionAnalysis::~SectionAnalysis() = default;

std::vector<std::string> SectionAnalysis::table_problems() {
  return table().problems;
}

std::vector<RiskFinding> SectionAnalysis::next(const std::string& pattern, unsigned index,
                                               Shell shell) {
  std::vector<RiskFinding> out;
  try {
    const Translation exact = translate_pattern(pattern);
    if (!exact.analysed) {
      out.push_back(
          {"not-analysed",
           "was not analysed exactly: it holds " + exact.why_not + "; only its tokens were checked",
           ""});
      return out;
    }
    if (shell != Shell::kNone) {
      out = EntryRisks(pattern, exact.language).all(shell == Shell::kMetacharsOnly);
    }
    Language before = Language::none();
    std::string names;
    for (const Earlier& e : earlier_) {
      before = before.either(e.language);
      if (e.language.both(exact.language).is_empty()) continue;
      names += (names.empty() ? "[" : ", [") + std::to_string(e.index) + "]";
    }
    if (!earlier_.empty() && exact.language.within(before)) {
      out.push_back({"unreachable",
                     "never matches first: every command line it matches is matched by entry " +
                         names + " before it, and the first match decides",
                     ""});
    }
    earlier_.push_back({index, exact.language});
  } catch (const std::runtime_error& e) {
    out.push_back({"not-analysed", std::string("was not analysed exactly: ") + e.what(), ""});
  }
  return out;
}

std::vector<RiskFinding> pattern_risks(const std::string& pattern) {
  return SectionAnalysis().next(pattern, 0, SectionAnalysis::Shell::kAll);
}

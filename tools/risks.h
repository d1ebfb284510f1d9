// What a white-list entry really lets run, proved on the exact model of its
// pattern (automaton.h): each risk is a language of command lines, and an
// entry has the risk when its language meets it. Every finding carries the
// shortest such command line, checked with the gate's own matcher.
#pragma once

#include <memory>
#include <string>
#include <vector>

// Where administrators add rules to the shipped table of runners, programs,
// options, interactive programs, pagers, package installers and secret files
// (share/corvexin/command-risks).
constexpr char kRiskTablePath[] = "/etc/corvexin/command-risks";

// Its severity is its code's (findings.h).
struct RiskFinding {
  std::string code;     // "shell-metachar", "path-climb", "risky-option", ...
  std::string what;     // what the entry admits, after the quoted pattern
  std::string through;  // the part of the pattern that admits it, when its kind names one
  std::string why;      // what follows from it; empty when what says it all
  std::string example;  // a command line that the gate allows and that shows it
};

// A finding of a kind of risk that the table of kinds knows (risks.cpp), its
// message made with names (what the entry admits), without an example: for
// the findings that a reading of the pattern's parts gives where the exact
// analysis could not run.
RiskFinding risk_finding(const std::string& code, const std::string& names,
                         const std::string& through);

// The entries of one white list, analysed in order: each entry is compared
// with those before it that can match a command line in common with it.
// Each entry's analysis runs under kEntryBudget (budget.h) in a child
// process; past it, the entry gets "not-analysed" saying so.
class SectionAnalysis {
 public:
  // compare: whether each entry is compared with those before it.
  explicit SectionAnalysis(bool compare = true);
  ~SectionAnalysis();

  // Which risks of a command line given to the shell (check method 1) an
  // entry is analysed for: none, only a metacharacter (for a pattern not
  // anchored at both ends, which admits any text around its match anyway),
  // or all.
  enum class Shell { kNone, kMetacharsOnly, kAll };

  // The findings about the next entry, whose pattern compiles: the risks
  // that shell asks for; always, whether earlier entries match everything it
  // matches.
  std::vector<RiskFinding> next(const std::string& pattern, unsigned index, Shell shell);

  // Problems reading the administrator's table, one line each.
  static std::vector<std::string> table_problems();

 private:
  struct Earlier;
  // In the child: the findings of a request, with whether it was analysed.
  std::string answer(const std::string& request);
  bool compare_;
  // The entries analysed so far, for a fresh child to build their automata
  // again (index and pattern).
  std::vector<std::pair<unsigned, std::string>> analysed_;
  // In the child: their automata, built in its first request.
  std::vector<Earlier> earlier_;
  std::unique_ptr<class Worker> worker_;
};

// The findings of one pattern as an entry of its own (for suggest).
std::vector<RiskFinding> pattern_risks(const std::string& pattern);

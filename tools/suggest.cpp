#include "suggest.h"

#include <json/value.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string_view>
#include <vector>

#include "decision.h"
#include "dry_run.h"
#include "files.h"
#include "json_document.h"
#include "json_text.h"
#include "log_lines.h"
#include "machine.h"
#include "pattern.h"
#include "report.h"
#include "risks.h"
#include "shell.h"
#include "text.h"
#include "vocabulary.h"

namespace {

// What the gate logs after a refused command line: the line's end, its
// refusal's line, then the empty line that the line's own final newline
// leaves. A policy that does not load leaves its own line and an empty one,
// and no command line.
const std::string kRefusedTail = "\n" + std::string(kLogRefused) + "\n";
const std::string kNotLoadedLines = std::string(kLogNotLoaded) + "\n";
// The level that a suggested entry demands until the administrator puts in
// the right category and level: no group holds it, so only the internal
// administrator passes, and yet the entry is one that can grant.
constexpr int kPlaceholderLevel = INT_MAX;

struct Refused {
  std::string logged;  // the command line as the log has it
  size_t offset = 0;   // where in the log it was first refused
  unsigned count = 0;
  // Why no entry is suggested (code empty when one is).
  std::string code, why;
};

// The byte that the log's escape at text[i] ("\x0a") stands for, -1 when
// there is none.
int escaped_byte(const std::string& text, size_t i) {
  constexpr std::string_view kHexDigits = "0123456789abcdef";  // as loggable writes them
  if (text.compare(i, 2, kEscapeStart) != 0 || i + 4 > text.size()) return -1;
  const size_t high = kHexDigits.find(text[i + 2]), low = kHexDigits.find(text[i + 3]);
  if (high == kHexDigits.npos || low == kHexDigits.npos) return -1;
  return static_cast<int>(high * 16 + low);
}

// Whether text[i] starts the log's escape of a control byte ("\x0a"), or of
// either byte of a C1 control ("\xc2\x9b"), as loggable writes them.
bool control_escape(const std::string& text, size_t i) {
  const int c = escaped_byte(text, i);
  if (c == 0xc2) return escaped_byte(text, i + 4) >= 0x80 && escaped_byte(text, i + 4) <= 0x9f;
  if (c >= 0x80 && c <= 0x9f) return i >= 4 && escaped_byte(text, i - 4) == 0xc2;
  return c >= 0 && control_byte(static_cast<unsigned char>(c));
}

// Whether the logged text is the log's cut form of a longer command line:
// its first kLoggedTextMax bytes, escaped, and "...[N bytes]" with N its
// whole length. Sets *whole to N.
bool cut_in_log(const std::string& logged, unsigned long long* whole) {
  static const std::string kEnd = kLengthMarkEnd;
  const size_t mark = logged.rfind(kLengthMarkStart);
  if (mark == std::string::npos || logged.size() < mark + 4 + kEnd.size() ||
      logged.compare(logged.size() - kEnd.size(), kEnd.size(), kEnd) != 0)
    return false;
  const std::string digits = logged.substr(mark + 4, logged.size() - kEnd.size() - mark - 4);
  if (digits.empty() || digits.size() > 19 ||
      digits.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *whole = strtoull(digits.c_str(), nullptr, 10);
  size_t bytes = 0;
  for (size_t i = 0; i < mark; ++bytes) i += control_escape(logged, i) ? 4 : 1;
  return *whole > kLoggedTextMax && bytes == kLoggedTextMax;
}

// Why the refused command line can have no suggested entry, if it cannot.
void judge(Refused& r) {
  unsigned long long whole = 0;
  std::string metachars;
  bool control = std::any_of(r.logged.begin(), r.logged.end(),
                             [](char c) { return control_byte(static_cast<unsigned char>(c)); });
  for (size_t i = 0; i < r.logged.size() && !control; ++i) control = control_escape(r.logged, i);
  if (cut_in_log(r.logged, &whole)) {
    r.code = "cut-in-log";
    r.why = "is cut in the log, which keeps only the first " + std::to_string(kLoggedTextMax) +
            " of its " + std::to_string(whole) + " bytes: no entry suggested";
  } else if (control) {
    r.code = "control-byte";
    r.why =
        "holds a control byte, which the log writes as \\xHH (or that very text, which the log "
        "cannot tell apart from it): no entry suggested";
  } else if (!(metachars = shell_metachars_in(r.logged)).empty()) {
    r.code = "shell-metachar";
    r.why = std::string("holds the shell ") +
            (metachars.size() == 1 ? "metacharacter " : "metacharacters ") +
            listed_chars(metachars) + ": the shell would run more than one simple command (" +
            kShellMetacharMeaning +
            "); no entry suggested: write one by hand that spells out what may vary, or allow a "
            "script that does the work";
  }
}

// The JSON path of the white-list entry of the loaded policy that matches
// the command line already, as the gate's own decision finds it (role checks
// unanswered, no ancestors); empty when there is none. Such a command was
// refused by that entry's role check, or by a section asked before, not for
// want of an entry.
std::string matching_entry(DryRun& dry, const std::string& command) {
  static const std::vector<std::string> kNoAncestors;
  const Outcome outcome =
      dry.decide(command, kDefaultCookie, DryRun::Roles::kNone, Json::Value(), &kNoAncestors);
  for (unsigned i = 0; i < outcome.record.count; ++i) {
    const SectionDecision& s = outcome.record.sections[i];
    if (s.entry >= 0 && s.method == kMethodWhiteList)
      return entry_path(s.name, static_cast<unsigned>(s.entry));
  }
  return std::string();
}

Json::Value entry_for(const std::string& pattern) {
  Json::Value entry(Json::objectValue);
  entry[kPatternMember] = pattern;
  entry[kCookieCheckMember] = 1;
  entry[kTypeMember] = 1;
  entry[kRoleRightMember][kRightCategories[0]] = kPlaceholderLevel;
  return entry;
}

// One line, the members in the order in which a policy's writer reads them.
std::string entry_line(const std::string& pattern) {
  const auto name = [](const char* member) { return quoted(member) + ": "; };
  return "{" + name(kPatternMember) + quoted(pattern) + ", " + name(kCookieCheckMember) + "1, " +
         name(kTypeMember) + "1, " + name(kRoleRightMember) + "{" + name(kRightCategories[0]) +
         std::to_string(kPlaceholderLevel) + "}}";
}

}  // namespace

int suggest_command(const std::string& path, const std::string& policy_path, bool json) {
  std::string text;
  const ReadFailure failure = read_whole(path, &text);
  Report report(path, text);
  if (failure.error != 0) {
    report.add_file("unreadable-log", path,
                    std::string("cannot be read: ") + strerror(failure.error));
    report.print_text(json ? std::cerr : std::cout);
    return report.status();
  }

  std::vector<Refused> refused;
  std::map<std::string, size_t> seen;
  unsigned not_loaded = 0;
  size_t not_loaded_at = 0;
  // The gate ends every line of its log with a newline.
  for (size_t start = 0; start < text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    if (text.compare(end, kRefusedTail.size(), kRefusedTail) == 0) {
      const auto [known, added] = seen.emplace(text.substr(start, end - start), refused.size());
      if (added) refused.push_back({known->first, start, 0, "", ""});
      ++refused[known->second].count;
      start = end + kRefusedTail.size();
    } else if (text.compare(start, kNotLoadedLines.size(), kNotLoadedLines) == 0) {
      if (not_loaded++ == 0) not_loaded_at = start;
      start += kNotLoadedLines.size();
    } else {
      start = end + 1;
    }
  }
  std::stable_sort(refused.begin(), refused.end(),
                   [](const Refused& a, const Refused& b) { return a.count > b.count; });

  DryRun dry;
  std::string error;
  const bool compared = dry.load(policy_path, false, &error) == DryRun::Load::kLoaded;
  if (!compared) {
    report.add_file("policy-not-compared", policy_path,
                    "does not load: the refused command lines are not compared with its entries");
  }

  unsigned refusals = 0;
  Json::Value entries(Json::arrayValue);
  // Adds a finding about the refused command line at offset to the report
  // and, as text, says it after the line.
  const auto say = [&](const std::string& code, size_t offset, const std::string& message,
                       const std::string& said) {
    report.add_at(code, offset, message);
    if (!json) {
      std::cout << "  " << severity_name(finding_class(code).severity) << ": " << said << " ["
                << code << "]\n";
    }
  };
  // The text's line on refusals that the log first records at offset.
  const auto heading = [&](unsigned count, size_t offset, const std::string& what) {
    size_t line = 0, column = 0;
    line_and_column(text, offset, &line, &column);
    std::cout << "refused " << counted(count, "time") << " (first at line " << line << "): " << what
              << "\n";
  };
  for (Refused& r : refused) {
    refusals += r.count;
    judge(r);
    const std::string matched = compared && r.code.empty() ? matching_entry(dry, r.logged) : "";
    if (!matched.empty()) {
      r.code = "already-matched";
      r.why = "is matched by " + matched + " of " + policy_path +
              " already: it was refused by that entry's role check (or by a section asked "
              "before), not for want of an entry; no entry suggested";
    }
    if (!json) heading(r.count, r.offset, quoted(r.logged));
    if (!r.code.empty()) {
      say(r.code, r.offset,
          quoted(r.logged) + " (refused " + counted(r.count, "time") + ") " + r.why, r.why);
      continue;
    }
    const std::string pattern = literal_pattern(r.logged);
    entries.append(entry_for(pattern));
    if (!json) std::cout << "  " << entry_line(pattern) << "\n";
    // What check would say of the entry, and of what it names on this machine.
    std::vector<MachineFinding> said;
    for (const RiskFinding& f : pattern_risks(pattern))
      said.push_back({f.code, risk_message(f), f.example});
    for (const MachineFinding& f : machine_findings(pattern)) said.push_back(f);
    for (const MachineFinding& f : said) {
      std::string why = "the suggested " + quoted(pattern) + " " + f.message;
      if (!f.example.empty()) why += " (for example " + quoted(f.example) + ")";
      say(f.code, r.offset, why, why);
    }
  }
  if (not_loaded > 0) {
    report.add_at("policy-not-loaded", not_loaded_at,
                  std::to_string(not_loaded) + (not_loaded == 1 ? " run was" : " runs were") +
                      " refused because the policy did not load; the log holds no command line "
                      "for them");
  }

  if (json) {
    print_json(entries, true);
    if (report.count(Severity::kWarning) + report.count(Severity::kNote) > 0)
      report.print_text(std::cerr);
    return report.status();
  }
  if (not_loaded > 0)
    heading(not_loaded, not_loaded_at,
            "the policy did not load, and the log holds no command line");
  std::cout << path << ": " << counted(refusals, "refusal") << " of "
            << counted(refused.size(), "command line") << ", " << entries.size()
            << (entries.size() == 1 ? " entry" : " entries") << " suggested, "
            << refused.size() - entries.size() << " without\n";
  if (!compared) std::cout << policy_path << ": does not load; entries not compared with it\n";
  if (!entries.empty()) {
    std::cout << "Each entry demands a role check: put it in the white_cmd_list of a section "
                 "with \"check_method\": 1 and \"is_type_check\": 1, and replace its "
                 "placeholder \"role_right\" {\"1\": "
              << kPlaceholderLevel
              << "}, a level no group holds (until then only the internal administrator "
                 "passes), with the category and the lowest level that the command needs.\n";
  }
  return report.status();
}

#include "test.h"

#include <json/writer.h>

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <set>

#include "decision.h"
#include "dry_run.h"
#include "files.h"
#include "json_document.h"
#include "json_text.h"
#include "policy.h"
#include "report.h"
#include "vocabulary.h"
#include "white_list.h"

namespace {

// One case of a case file.
struct Case {
  std::string file;
  long line = 0;  // where the case begins in its file
  std::string name, command, cookie = kDefaultCookie, expected;
  bool has_role = false;
  Json::Value role;
  std::vector<std::string> ancestors;
};

const std::vector<std::string> kCaseMembers = {"command", "verdict", "name",
                                               "cookie",  "role",    "ancestors"};

// Reads v, at path, into out; false, with an error, when it is not a string
// or holds a NUL byte, which no command line or cookie can.
bool read_string(const Json::Value& v, const std::string& path, Report& report, std::string& out) {
  if (!v.isString()) {
    report.add("bad-case", path, v, "is " + type_name(v) + ", not a string");
    return false;
  }
  out = v.asString();
  if (strlen(out.c_str()) == out.size()) return true;
  report.add("bad-case", path, v, "holds a NUL byte");
  return false;
}

// The case at path in a case file; false, with errors, when it has a wrong shape.
bool read_case(const Json::Value& c, const std::string& path, Report& report, Case& out) {
  if (!c.isObject()) {
    report.add("bad-case", path, c, "is " + type_name(c) + ", not an object");
    return false;
  }
  bool ok = true;
  for (const auto& name : c.getMemberNames()) {
    if (std::find(kCaseMembers.begin(), kCaseMembers.end(), name) != kCaseMembers.end()) continue;
    const std::string suggestion = similar_name(name, kCaseMembers);
    report.add("bad-case", member_path(path, name), c[name],
               "is no member of a case" +
                   (suggestion.empty() ? "" : "; did you mean \"" + suggestion + "\"?"));
    ok = false;
  }
  for (const char* required : {"command", "verdict"}) {
    if (c.isMember(required)) continue;
    report.add("bad-case", path, c, std::string("has no \"") + required + "\"");
    ok = false;
  }
  for (auto [member, text] : {std::pair{"command", &out.command}, std::pair{"name", &out.name},
                              std::pair{"cookie", &out.cookie}}) {
    if (c.isMember(member))
      ok = read_string(c[member], member_path(path, member), report, *text) && ok;
  }
  const Json::Value& verdict = c["verdict"];
  out.expected = verdict.isString() ? verdict.asString() : "";
  if (c.isMember("verdict") && out.expected != "allow" && out.expected != "refuse") {
    report.add("bad-case", member_path(path, "verdict"), verdict,
               "is neither \"allow\" nor \"refuse\"");
    ok = false;
  }
  out.has_role = c.isMember("role");
  out.role = c["role"];
  const Json::Value& ancestors = c["ancestors"];
  const std::string ancestors_path = member_path(path, "ancestors");
  if (c.isMember("ancestors") && !ancestors.isArray()) {
    report.add("bad-case", ancestors_path, ancestors,
               "is " + type_name(ancestors) + ", not an array of command lines");
    return false;
  }
  out.ancestors.resize(ancestors.size());
  for (Json::ArrayIndex i = 0; i < ancestors.size(); ++i) {
    ok = read_string(ancestors[i], index_path(ancestors_path, i), report, out.ancestors[i]) && ok;
  }
  return ok;
}

// The cases of the file at path, whose bytes are text, appended to cases;
// errors go to report.
void read_case_file(const std::string& path, const std::string& text, Report& report,
                    std::vector<Case>& cases) {
  Json::Value document;
  std::vector<PolicyError> errors;
  if (!parse_document(text, document, false, nullptr, &errors)) {
    for (const auto& e : errors) report.add_at("bad-case", e.offset, e.message);
    return;
  }
  if (!document.isArray()) {
    report.add("bad-case", "$", document, "is " + type_name(document) + ", not an array of cases");
    return;
  }
  for (Json::ArrayIndex i = 0; i < document.size(); ++i) {
    Case c;
    c.file = path;
    size_t line = 0, column = 0;
    line_and_column(text, static_cast<size_t>(document[i].getOffsetStart()), &line, &column);
    c.line = static_cast<long>(line);
    if (read_case(document[i], index_path("$", i), report, c)) cases.push_back(std::move(c));
  }
}

// A white-list entry of the policy: section index and entry index.
using EntryKey = std::pair<unsigned, unsigned>;

// How one section that was asked decided, from the decision's record.
Json::Value section_outcome(unsigned i, const Case& c, const Outcome& outcome) {
  const SectionDecision& record = outcome.record.sections[i];
  Json::Value out(Json::objectValue);
  out["section"] = record.name;
  out["result"] = outcome.section_result(i);
  if (record.result < 0) out["error"] = outcome.error;
  if (!record.read) return out;
  out["method"] = record.method;
  if (!method_reads_white_list(record.method)) return out;
  if (record.method == kMethodAncestor) {
    out["ancestors_given"] = static_cast<Json::UInt>(c.ancestors.size());
  }
  if (record.entry < 0) return out;
  out["entry"] = record.entry;
  out["path"] = entry_path(record.name, static_cast<unsigned>(record.entry));
  const Json::Value& policy = root;
  out[kPatternMember] = pattern_of(policy[record.name][kWhiteListMember][record.entry]);
  if (record.method == kMethodAncestor) out["ancestor"] = record.ancestor;
  if (record.rule != MatchRule::kRoleCheck) {
    out["allowed_by"] = record.rule == MatchRule::kCookieFlagZero ? "is_cookie_check 0" : "type 0";
  } else if (outcome.section_undecided(i)) {
    out["role_check"] = "no role given";
  } else if (record.role_result >= 0) {
    out["role_check"] = record.role_result == 0 ? "passed" : "refused";
    out["user"] = record.user;
  }
  return out;
}

// How one section that was asked decided, in words.
std::string section_text(unsigned i, const Case& c, const Outcome& outcome) {
  const SectionDecision& record = outcome.record.sections[i];
  std::string text = record.name;
  const bool entry = record.read && method_reads_white_list(record.method) && record.entry >= 0;
  if (record.read) {
    const unsigned method = record.method;
    text += ", method " + std::to_string(method);
    if (method == kMethodNone) text += " (allows every command)";
    if (method == kMethodBlackList) text += " (refuses every command)";
    if (method > kMethodAncestor) text += " (no such method: refuses every command)";
    if (method == kMethodAncestor && !entry) {
      text += c.ancestors.empty() ? ", no ancestors given" : ", no ancestor matched";
    } else if (method == kMethodWhiteList && !entry) {
      text += ", no entry matched";
    }
  }
  if (entry) {
    text += ", entry [" + std::to_string(record.entry) + "]";
    if (record.method == kMethodAncestor) text += " on ancestor " + quoted(record.ancestor);
    if (record.rule != MatchRule::kRoleCheck) {
      text += std::string(", allowed by the match alone (") +
              (record.rule == MatchRule::kCookieFlagZero ? "is_cookie_check 0" : "type 0") + ")";
    } else if (outcome.section_undecided(i)) {
      text += ", role check undecided: the case gives no \"role\"";
    } else if (record.role_result >= 0) {
      text += std::string(", role check ") + (record.role_result == 0 ? "passed" : "refused");
      text += record.user.empty() ? " (no user)" : " for user " + quoted(record.user);
    }
  }
  if (record.result < 0) {
    text += ", a value cannot be converted (" + outcome.error + "): the gate's run ends";
  }
  return text;
}

// What the decision of a case that failed tells: the allowing section, or
// every section asked.
unsigned first_told(const Outcome& outcome) {
  return outcome.record.verdict == 0 ? outcome.record.count - 1 : 0;
}

// A case whose verdict is not the expected one, and its decision (none when
// the policy is not used).
struct Failure {
  const Case* c;
  const char* actual;
  bool decided;
  Outcome outcome;
};

// A white-list entry that a decision can reach, and the cases that matched it.
struct Covered {
  std::string path, pattern;
  unsigned cases;
};

// The entries of the loaded policy's white lists that a decision can reach:
// those of sections of method 1 or 3, with their patterns.
std::map<EntryKey, std::string> policy_entries() {
  std::map<EntryKey, std::string> entries;
  const Json::Value& policy = root;
  if (!policy.isObject()) return entries;
  for (unsigned i = 0; i < kSectionCount; ++i) {
    const Json::Value& s = policy[kSectionNames[i]];
    if (!s.isObject()) continue;
    try {
      if (!method_reads_white_list(read_section_numbers(s).method)) continue;
    } catch (const Json::Exception&) {
      continue;
    }
    const Json::Value& list = s[kWhiteListMember];
    if (!list.isArray()) continue;
    for (Json::ArrayIndex j = 0; j < list.size(); ++j) {
      std::string pattern;
      try {
        pattern = pattern_of(list[j]);
      } catch (const Json::Exception&) {
      }
      entries[{i, j}] = pattern;
    }
  }
  return entries;
}

void print_text(const std::string& policy, const std::string& not_used,
                const std::vector<Failure>& failures, const std::vector<Covered>* coverage,
                unsigned passed) {
  if (!not_used.empty()) std::cout << policy << ": " << not_used << ": every command is refused\n";
  for (const Failure& f : failures) {
    const Case& c = *f.c;
    std::cout << "FAIL " << c.file << ":" << c.line << " "
              << quoted(c.name.empty() ? c.command : c.name) << ": expected " << c.expected
              << ", got " << f.actual;
    std::string why = not_used;
    if (f.decided) {
      for (unsigned i = first_told(f.outcome); i < f.outcome.record.count; ++i)
        why += (why.empty() ? "" : "; ") + section_text(i, c, f.outcome);
    }
    if (!why.empty()) std::cout << " (" << why << ")";
    std::cout << "\n";
  }
  if (coverage != nullptr) {
    unsigned reached = 0;
    for (const Covered& e : *coverage) {
      if (e.cases == 0) continue;
      ++reached;
      std::cout << e.path << " " << quoted(e.pattern) << ": " << e.cases
                << (e.cases == 1 ? " case\n" : " cases\n");
    }
    for (const Covered& e : *coverage) {
      if (e.cases == 0) std::cout << "not reached: " << e.path << " " << quoted(e.pattern) << "\n";
    }
    std::cout << "coverage: " << reached << " of " << coverage->size() << " entries reached\n";
  }
  std::cout << passed << " passed, " << failures.size() << " failed\n";
}

}  // namespace

int test_command(const TestOptions& options) {
  // A report of each file: one that cannot be read, a case file of a wrong shape.
  std::vector<std::unique_ptr<Report>> reports;
  std::vector<Case> cases;
  for (size_t i = 0; i <= options.case_files.size(); ++i) {
    const std::string& path = i == 0 ? options.policy : options.case_files[i - 1];
    std::string text;
    const std::string why = read_file(path, i > 0 ? &text : nullptr);
    reports.push_back(std::make_unique<Report>(path, text));
    if (!why.empty()) {
      reports.back()->add_file("unreadable", path, why);
    } else if (i > 0) {
      read_case_file(path, text, *reports.back(), cases);
    }
  }
  Json::Value out(Json::objectValue);
  out["format"] = kJsonFormat;
  out["policy"] = options.policy;
  bool errors = false;
  for (const auto& r : reports) errors = errors || r->count(Severity::kError) > 0;
  if (errors) {
    Json::Value& list = out["errors"] = Json::Value(Json::arrayValue);
    for (const auto& r : reports) {
      if (r->count(Severity::kError) == 0) continue;
      if (!options.json) r->print_text();
      const Json::Value report = r->json();
      for (const auto& f : report["findings"]) list.append(f);
    }
    if (options.json) print_json(out);
    return 2;
  }

  std::map<EntryKey, unsigned> counts;
  unsigned passed = 0;
  std::vector<Failure> failures;
  std::string not_used;
  DryRun run;
  std::string error;
  const DryRun::Load load = run.load(options.policy, false, &error);
  if (load == DryRun::Load::kNotLoaded) {
    not_used = "the policy does not load";
  } else if (load == DryRun::Load::kRunEnds) {
    not_used = "reading \"enable_log\" ends the gate's run (" + error + ")";
  }
  for (const Case& c : cases) {
    Failure f{&c, "refuse", load == DryRun::Load::kLoaded, Outcome()};
    if (f.decided) {
      f.outcome =
          run.decide(c.command, c.cookie, c.has_role ? DryRun::Roles::kGiven : DryRun::Roles::kNone,
                     c.role, &c.ancestors);
      f.actual = f.outcome.verdict_word();
      std::set<EntryKey> matched;
      for (const EntryTried& e : f.outcome.tried)
        if (e.result == 0) matched.emplace(e.section, e.index);
      for (const EntryKey& key : matched) ++counts[key];
    }
    if (f.actual == c.expected) {
      ++passed;
    } else {
      failures.push_back(std::move(f));
    }
  }
  std::vector<Covered> coverage;
  for (const auto& [key, pattern] : policy_entries())
    coverage.push_back({entry_path(kSectionNames[key.first], key.second), pattern, counts[key]});

  if (!options.json) {
    print_text(options.policy, not_used, failures, options.coverage ? &coverage : nullptr, passed);
    return failures.empty() ? 0 : 1;
  }
  if (!not_used.empty()) out["not_used"] = not_used;
  Json::Value& list = out["failures"] = Json::Value(Json::arrayValue);
  for (const Failure& f : failures) {
    Json::Value& item = list.append(Json::Value(Json::objectValue));
    item["file"] = f.c->file;
    item["line"] = static_cast<Json::Int64>(f.c->line);
    if (!f.c->name.empty()) item["name"] = f.c->name;
    item["command"] = f.c->command;
    item["expected"] = f.c->expected;
    item["actual"] = f.actual;
    Json::Value& sections = item["sections"] = Json::Value(Json::arrayValue);
    if (!f.decided) continue;
    for (unsigned i = first_told(f.outcome); i < f.outcome.record.count; ++i)
      sections.append(section_outcome(i, *f.c, f.outcome));
  }
  if (options.coverage) {
    Json::Value& covered = out["coverage"] = Json::Value(Json::objectValue);
    Json::Value& entries = covered["entries"] = Json::Value(Json::arrayValue);
    unsigned reached = 0;
    for (const Covered& e : coverage) {
      Json::Value& item = entries.append(Json::Value(Json::objectValue));
      item["path"] = e.path;
      item[kPatternMember] = e.pattern;
      item["cases"] = e.cases;
      reached += e.cases > 0;
    }
    covered["reached"] = reached;
  }
  out["passed"] = passed;
  out["failed"] = static_cast<Json::UInt>(failures.size());
  print_json(out);
  return failures.empty() ? 0 : 1;
}

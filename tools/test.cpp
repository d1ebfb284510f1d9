#include "test.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <map>
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
  size_t line = 0;  // where the case begins in its file
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
    size_t column = 0;
    line_and_column(text, static_cast<size_t>(document[i].getOffsetStart()), &c.line, &column);
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

// How one section that was asked decided, in words, from its section_outcome.
std::string section_text(const Json::Value& s) {
  std::string text = s["section"].asString();
  const bool entry = s.isMember("entry");
  if (s.isMember("method")) {
    const unsigned method = s["method"].asUInt();
    text += ", method " + std::to_string(method);
    if (method == kMethodNone) text += " (allows every command)";
    if (method == kMethodBlackList) text += " (refuses every command)";
    if (method > kMethodAncestor) text += " (no such method: refuses every command)";
    if (method == kMethodAncestor && !entry) {
      text += s["ancestors_given"].asUInt() == 0 ? ", no ancestors given" : ", no ancestor matched";
    } else if (method == kMethodWhiteList && !entry) {
      text += ", no entry matched";
    }
  }
  if (entry) {
    text += ", entry [" + std::to_string(s["entry"].asInt()) + "]";
    if (s.isMember("ancestor")) text += " on ancestor " + quoted(s["ancestor"].asString());
    const std::string role_check = s["role_check"].asString(), user = s["user"].asString();
    if (s.isMember("allowed_by")) {
      text += ", allowed by the match alone (" + s["allowed_by"].asString() + ")";
    } else if (role_check == "no role given") {
      text += ", role check undecided: the case gives no \"role\"";
    } else if (!role_check.empty()) {
      text += ", role check " + role_check +
              (user.empty() ? " (no user)" : " for user " + quoted(user));
    }
  }
  if (s.isMember("error")) {
    text += ", a value cannot be converted (" + s["error"].asString() + "): the gate's run ends";
  }
  return text;
}

// The coverage of the loaded policy's white-list entries that a decision can
// reach, those of sections of method 1 or 3: each entry's path, its pattern
// and the number of cases that matched it (counts).
Json::Value coverage_json(const std::map<EntryKey, unsigned>& counts) {
  Json::Value out(Json::objectValue);
  Json::Value& entries = out["entries"] = Json::Value(Json::arrayValue);
  unsigned reached = 0;
  const Json::Value& policy = root;
  for (unsigned i = 0; policy.isObject() && i < kSectionCount; ++i) {
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
      const auto found = counts.find({i, j});
      const unsigned cases = found == counts.end() ? 0 : found->second;
      Json::Value& item = entries.append(Json::Value(Json::objectValue));
      item["path"] = entry_path(kSectionNames[i], j);
      item[kPatternMember] = pattern;
      item["cases"] = cases;
      reached += cases > 0;
    }
  }
  out["reached"] = reached;
  return out;
}

// The document that test --json prints, in words.
void print_text(const Json::Value& out) {
  const std::string not_used = out["not_used"].asString();
  if (!not_used.empty()) {
    std::cout << out["policy"].asString() << ": " << not_used << ": every command is refused\n";
  }
  for (const Json::Value& f : out["failures"]) {
    std::cout << "FAIL " << f["file"].asString() << ":" << f["line"].asInt64() << " "
              << quoted(f.get("name", f["command"]).asString()) << ": expected "
              << f["expected"].asString() << ", got " << f["actual"].asString();
    std::string why = not_used;
    for (const Json::Value& s : f["sections"]) why += (why.empty() ? "" : "; ") + section_text(s);
    if (!why.empty()) std::cout << " (" << why << ")";
    std::cout << "\n";
  }
  if (out.isMember("coverage")) {
    const Json::Value& entries = out["coverage"]["entries"];
    // The entries reached, with their counts, then those not reached.
    std::string not_reached;
    for (const Json::Value& e : entries) {
      const std::string entry = e["path"].asString() + " " + quoted(e[kPatternMember].asString());
      const unsigned cases = e["cases"].asUInt();
      if (cases == 0) {
        not_reached += "not reached: " + entry + "\n";
      } else {
        std::cout << entry << ": " << counted(cases, "case") << "\n";
      }
    }
    std::cout << not_reached;
    std::cout << "coverage: " << out["coverage"]["reached"].asUInt() << " of " << entries.size()
              << " entries reached\n";
  }
  std::cout << out["passed"].asUInt() << " passed, " << out["failed"].asUInt() << " failed\n";
}

}  // namespace

int test_command(const TestOptions& options) {
  Json::Value out(Json::objectValue);
  out["format"] = kJsonFormat;
  out["policy"] = options.policy;
  // The findings of each file with errors: one that cannot be read, a case
  // file of a wrong shape. Reading prints nothing, so each file's report is
  // printed as soon as it is complete.
  Json::Value errors(Json::arrayValue);
  std::vector<Case> cases;
  for (size_t i = 0; i <= options.case_files.size(); ++i) {
    const std::string& path = i == 0 ? options.policy : options.case_files[i - 1];
    std::string text;
    const std::string why = read_file(path, i > 0 ? &text : nullptr);
    Report report(path, text);
    if (!why.empty()) {
      report.add_file("unreadable", path, why);
    } else if (i > 0) {
      read_case_file(path, text, report, cases);
    }
    if (report.count(Severity::kError) == 0) continue;
    if (!options.json) report.print_text();
    const Json::Value json = report.json();
    for (const auto& f : json["findings"]) errors.append(f);
  }
  if (!errors.empty()) {
    out["errors"] = errors;
    if (options.json) print_json(out);
    return 2;
  }

  DryRun run;
  std::string error;
  const DryRun::Load load = run.load(options.policy, false, &error);
  if (load == DryRun::Load::kNotLoaded) {
    out["not_used"] = "the policy does not load";
  } else if (load == DryRun::Load::kRunEnds) {
    out["not_used"] = "reading \"enable_log\" ends the gate's run (" + error + ")";
  }
  std::map<EntryKey, unsigned> counts;
  Json::Value& failures = out["failures"] = Json::Value(Json::arrayValue);
  for (const Case& c : cases) {
    Outcome outcome;
    const char* actual = "refuse";
    if (load == DryRun::Load::kLoaded) {
      outcome =
          run.decide(c.command, c.cookie, c.has_role ? DryRun::Roles::kGiven : DryRun::Roles::kNone,
                     c.role, &c.ancestors);
      actual = outcome.verdict_word();
      std::set<EntryKey> matched;
      for (const EntryTried& e : outcome.tried)
        if (e.result == 0) matched.emplace(e.section, e.index);
      for (const EntryKey& key : matched) ++counts[key];
    }
    if (actual == c.expected) continue;
    Json::Value& item = failures.append(Json::Value(Json::objectValue));
    item["file"] = c.file;
    item["line"] = static_cast<Json::Int64>(c.line);
    if (!c.name.empty()) item["name"] = c.name;
    item["command"] = c.command;
    item["expected"] = c.expected;
    item["actual"] = actual;
    Json::Value& sections = item["sections"] = Json::Value(Json::arrayValue);
    if (load != DryRun::Load::kLoaded) continue;
    // What the decision tells: the allowing section, or every section asked.
    const unsigned count = outcome.record.count;
    for (unsigned i = outcome.record.verdict == 0 ? count - 1 : 0; i < count; ++i)
      sections.append(section_outcome(i, c, outcome));
  }
  if (options.coverage) out["coverage"] = coverage_json(counts);
  out["passed"] = static_cast<Json::UInt>(cases.size() - failures.size());
  out["failed"] = failures.size();
  if (options.json) {
    print_json(out);
  } else {
    print_text(out);
  }
  return failures.empty() ? 0 : 1;
}

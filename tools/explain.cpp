#include "explain.h"

#include <json/writer.h>

#include <iostream>
#include <vector>

#include "decision.h"
#include "dry_run.h"
#include "json_text.h"
#include "policy.h"
#include "report.h"
#include "role_lookup.h"
#include "service_owner.h"
#include "vocabulary.h"

namespace {

// What explain tells of one section: the ancestors' command lines that the
// entries were tried on (when they change) and the entries tried, in order.
struct Step {
  bool ancestor;  // a new text: an ancestor's command line
  const EntryTried* entry;
};
using Steps = std::vector<Step>;

std::vector<Steps> steps_of(const Outcome& outcome, const std::string& command) {
  std::vector<Steps> steps(outcome.record.count);
  std::string text;  // the text the entries were last tried on
  for (const EntryTried& e : outcome.tried) {
    if (e.ended_run || e.section >= steps.size()) continue;
    if (e.text != text) {
      text = e.text;
      if (text != command) steps[e.section].push_back({true, &e});
    }
    steps[e.section].push_back({false, &e});
  }
  return steps;
}

const char* entry_result(int result) {
  return result == 0 ? "match" : result == 1 ? "no match" : "error";
}

const Json::Value& role_right_of(const SectionDecision& record, unsigned index) {
  const Json::Value& policy = root;
  return policy[record.name][kWhiteListMember][index][kRoleRightMember];
}

// null when no entry was tried, as before the first step.
Json::Value steps_json(const SectionDecision& record, const Steps& steps) {
  Json::Value out;
  for (const Step& step : steps) {
    const EntryTried& e = *step.entry;
    Json::Value& s = out.append(Json::Value(Json::objectValue));
    if (step.ancestor) {
      s["step"] = "ancestor";
      s["command_line"] = e.text;
      continue;
    }
    s["step"] = "entry";
    s["index"] = e.index;
    s[kPatternMember] = e.pattern;
    s["result"] = entry_result(e.result);
    if (e.result != 0) continue;
    if (const char* why = match_rule_meaning(e.rule)) {
      s["why"] = why;
      continue;
    }
    Json::Value& lookup = out.append(Json::Value(Json::objectValue));
    lookup["step"] = "role_lookup";
    lookup[kRoleRightMember] = role_right_of(record, e.index);
    lookup["made"] = e.lookup_made;
    if (e.lookup_skipped != nullptr) lookup["skipped"] = e.lookup_skipped;
    if (!e.lookup_made) continue;
    Json::Value& check = out.append(Json::Value(Json::objectValue));
    check["step"] = "role_check";
    check["reply"] = e.reply;
    if (!e.user.empty()) check["user"] = e.user;
    check["result"] = e.role_result == 0 ? "passed" : "refused";
  }
  return out;
}

const char* verdict_name(Outcome::Verdict verdict) {
  return verdict == Outcome::Verdict::kAllowed   ? "allowed"
         : verdict == Outcome::Verdict::kRefused ? "refused"
                                                 : "undecided";
}

// What explain found: how the policy loaded, and the decision.
struct Explained {
  DryRun::Load load = DryRun::Load::kNotLoaded;
  std::string load_error;
  int enable_log = 0;
  Outcome outcome;
};

Json::Value to_json(const ExplainOptions& options, const Explained& x) {
  Json::Value out(Json::objectValue);
  out["format"] = kJsonFormat;
  out["policy"] = options.policy;
  out["command"] = options.command;
  out["sections"] = Json::Value(Json::arrayValue);
  out["verdict"] = "refused";
  out["loaded"] = x.load != DryRun::Load::kNotLoaded;
  if (!x.load_error.empty()) out["error"] = x.load_error;
  if (x.load != DryRun::Load::kLoaded) return out;
  out[kEnableLogMember] = x.enable_log;
  const Json::Value& policy = root;
  const std::vector<Steps> steps = steps_of(x.outcome, options.command);
  for (unsigned i = 0; i < x.outcome.record.count; ++i) {
    const SectionDecision& record = x.outcome.record.sections[i];
    Json::Value& section = out["sections"].append(Json::Value(Json::objectValue));
    section["name"] = record.name;
    if (policy[record.name].isNull()) section["missing"] = true;
    if (record.read) {
      section[kTypeCheckMember] = record.type_check;
      section["method"] = record.method;
    }
    section["result"] = x.outcome.section_result(i);
    if (record.result < 0) section["error"] = x.outcome.error;
    section["steps"] = steps_json(record, steps[i]);
  }
  out["verdict"] = verdict_name(x.outcome.verdict);
  return out;
}

void print_steps(const SectionDecision& record, const Steps& steps) {
  for (const Step& step : steps) {
    const EntryTried& e = *step.entry;
    if (step.ancestor) {
      std::cout << "  ancestor's command line " << quoted(e.text) << "\n";
      continue;
    }
    std::cout << "    entry [" << e.index << "] " << quoted(e.pattern) << ": "
              << entry_result(e.result);
    if (e.result == 2) std::cout << " (does not compile; never matches)";
    std::cout << "\n";
    if (e.result != 0) continue;
    if (const char* why = match_rule_meaning(e.rule)) {
      std::cout << "    allowed by the match alone: " << why << "\n";
      continue;
    }
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    std::cout << "    the entry demands the role rights "
              << Json::writeString(writer, role_right_of(record, e.index))
              << (e.lookup_made                 ? ": role lookup made\n"
                  : e.lookup_skipped != nullptr ? std::string(": role lookup skipped: ") +
                                                      e.lookup_skipped + ", the check refuses\n"
                                                : ": no role lookup made (--no-lookup), the check "
                                                  "refuses\n");
    uid_t service_uid = 0;
    bool service_user = false;
    if (role_service_user(service_user_rule(root), &service_uid, &service_user) == nullptr &&
        service_user)
      std::cout << "    (asked only of a role service whose socket root or uid " << service_uid
                << " (\"role_service_user\") owns)\n";
    if (!e.lookup_made) continue;
    std::cout << "    the role service answered " << quoted(e.reply) << "\n";
    std::cout << "    role check " << (e.role_result == 0 ? "passed" : "refused");
    if (!e.user.empty()) std::cout << " for user " << quoted(e.user);
    std::cout << "\n";
  }
}

void print_text(const ExplainOptions& options, const Explained& x) {
  std::cout << "policy " << options.policy;
  if (x.load == DryRun::Load::kNotLoaded && !x.load_error.empty()) {
    std::cout << " does not load (" << x.load_error << "): the gate refuses every command\n";
  } else if (x.load == DryRun::Load::kNotLoaded) {
    std::cout << " does not load (the reader's messages are on standard error): the gate "
                 "refuses every command\n";
  } else if (x.load == DryRun::Load::kRunEnds) {
    std::cout << ": reading \"enable_log\" fails (" << x.load_error << "): the gate's run ends\n";
  } else {
    std::cout << "\n";
  }
  const std::vector<Steps> steps = steps_of(x.outcome, options.command);
  const Json::Value& policy = root;
  for (unsigned i = 0; i < x.outcome.record.count; ++i) {
    const SectionDecision& record = x.outcome.record.sections[i];
    std::cout << record.name << ": ";
    if (record.read) {
      std::cout << "check method " << record.method << " (" << method_meaning(record.method) << ")";
      if (policy[record.name].isNull()) std::cout << ", the section is missing";
    }
    std::cout << "\n";
    if (record.read && record.method == kMethodAncestor && steps[i].empty()) {
      std::cout << "    no ancestor's command line matched an entry\n";
    }
    print_steps(record, steps[i]);
    const std::string result = x.outcome.section_result(i);
    if (result == "run ends") {
      std::cout << "  a policy value cannot be converted (" << x.outcome.error
                << "): the gate's run ends and the command is refused; 'corvexin_policy check' "
                   "shows where\n";
    } else {
      std::cout << "  " << record.name << " "
                << (result == "undecided" ? "leaves the command undecided"
                                          : result + " the command")
                << "\n";
    }
  }
  const Outcome::Verdict verdict = x.outcome.verdict;
  std::cout << "verdict: "
            << (verdict == Outcome::Verdict::kAllowed ? "allowed: the gate would run the command"
                : verdict == Outcome::Verdict::kRefused
                    ? "refused: the gate would not run the command"
                    : "undecided: it depends on the role lookup that was not made")
            << "\n";
}

}  // namespace

int explain_command(const ExplainOptions& options) {
  DryRun run;
  Explained x;
  x.load = run.load(options.policy, options.policy == kPolicyPath, &x.load_error);
  if (x.load == DryRun::Load::kLoaded) {
    x.enable_log = run.policy_enable_log();
    x.outcome = run.decide(options.command, options.cookie,
                           options.lookup ? DryRun::Roles::kAsk : DryRun::Roles::kNone);
  }
  if (options.json) {
    print_json(to_json(options, x));
  } else {
    print_text(options, x);
  }
  if (x.load != DryRun::Load::kLoaded) return 1;
  return x.outcome.verdict == Outcome::Verdict::kAllowed   ? 0
         : x.outcome.verdict == Outcome::Verdict::kRefused ? 1
                                                           : 3;
}

#include "explain.h"

#include <iostream>

#include "decision.h"
#include "dry_run.h"
#include "json_text.h"
#include "policy.h"
#include "report.h"
#include "service_owner.h"
#include "vocabulary.h"

namespace {

const char* entry_result(int result) {
  return result == 0 ? "match" : result == 1 ? "no match" : "error";
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

// The document of explain --json. Each section's steps: the ancestors'
// command lines that the entries were tried on (when they change) and the
// entries tried, in order; null when no entry was tried.
Json::Value to_json(const ExplainOptions& options, const Explained& x) {
  Json::Value out(Json::objectValue);
  out["format"] = kJsonFormat;
  out["policy"] = options.policy;
  out["command"] = options.command;
  Json::Value& sections = out["sections"] = Json::Value(Json::arrayValue);
  // Refused unless the policy loads and the decision says otherwise.
  out["verdict"] = verdict_name(x.outcome.verdict);
  out["loaded"] = x.load != DryRun::Load::kNotLoaded;
  if (!x.load_error.empty()) out["error"] = x.load_error;
  if (x.load != DryRun::Load::kLoaded) return out;
  out[kEnableLogMember] = x.enable_log;
  const Json::Value& policy = root;
  const Decision& decision = x.outcome.record;
  for (unsigned i = 0; i < decision.count; ++i) {
    const SectionDecision& record = decision.sections[i];
    Json::Value& section = sections.append(Json::Value(Json::objectValue));
    section["name"] = record.name;
    if (policy[record.name].isNull()) section["missing"] = true;
    if (record.read) {
      section[kTypeCheckMember] = record.type_check;
      section["method"] = record.method;
    }
    section["result"] = x.outcome.section_result(i);
    if (record.result < 0) section["error"] = x.outcome.error;
    section["steps"] = Json::Value();
  }
  std::string text;  // the text the entries were last tried on
  for (const EntryTried& e : x.outcome.tried) {
    if (e.ended_run || e.section >= decision.count) continue;
    Json::Value& steps = sections[e.section]["steps"];
    if (e.text != text) {
      text = e.text;
      if (text != options.command) {
        Json::Value& s = steps.append(Json::Value(Json::objectValue));
        s["step"] = "ancestor";
        s["command_line"] = e.text;
      }
    }
    Json::Value& s = steps.append(Json::Value(Json::objectValue));
    s["step"] = "entry";
    s["index"] = e.index;
    s[kPatternMember] = e.pattern;
    s["result"] = entry_result(e.result);
    if (e.result != 0) continue;
    if (const char* why = match_rule_meaning(e.rule)) {
      s["why"] = why;
      continue;
    }
    Json::Value& lookup = steps.append(Json::Value(Json::objectValue));
    lookup["step"] = "role_lookup";
    lookup[kRoleRightMember] =
        policy[decision.sections[e.section].name][kWhiteListMember][e.index][kRoleRightMember];
    lookup["made"] = e.lookup_made;
    if (e.lookup_skipped != nullptr) lookup["skipped"] = e.lookup_skipped;
    if (!e.lookup_made) continue;
    Json::Value& check = steps.append(Json::Value(Json::objectValue));
    check["step"] = "role_check";
    check["reply"] = e.reply;
    if (!e.user.empty()) check["user"] = e.user;
    check["result"] = e.role_result == 0 ? "passed" : "refused";
  }
  return out;
}

void print_steps(const Json::Value& steps) {
  for (const Json::Value& s : steps) {
    const std::string step = s["step"].asString();
    if (step == "ancestor") {
      std::cout << "  ancestor's command line " << quoted(s["command_line"].asString()) << "\n";
    } else if (step == "entry") {
      std::cout << "    entry [" << s["index"].asUInt() << "] "
                << quoted(s[kPatternMember].asString()) << ": " << s["result"].asString();
      if (s["result"] == "error") std::cout << " (does not compile; never matches)";
      std::cout << "\n";
      if (s.isMember("why"))
        std::cout << "    allowed by the match alone: " << s["why"].asString() << "\n";
    } else if (step == "role_lookup") {
      std::cout << "    the entry demands the role rights " << json_written(s[kRoleRightMember], "")
                << (s["made"].asBool()      ? ": role lookup made\n"
                    : s.isMember("skipped") ? ": role lookup skipped: " + s["skipped"].asString() +
                                                  ", the check refuses\n"
                                            : ": no role lookup made (--no-lookup), the check "
                                              "refuses\n");
      uid_t service_uid = 0;
      bool service_user = false;
      if (role_service_user(service_user_rule(root), &service_uid, &service_user) == nullptr &&
          service_user)
        std::cout << "    (asked only of a role service whose socket root or uid " << service_uid
                  << " (\"role_service_user\") owns)\n";
    } else {
      std::cout << "    the role service answered " << quoted(s["reply"].asString()) << "\n";
      std::cout << "    role check " << s["result"].asString();
      if (s.isMember("user")) std::cout << " for user " << quoted(s["user"].asString());
      std::cout << "\n";
    }
  }
}

// The decision in words: the same document as --json prints.
void print_text(const Json::Value& out, const Explained& x) {
  std::cout << "policy " << out["policy"].asString();
  if (x.load == DryRun::Load::kNotLoaded) {
    std::cout << " does not load ("
              << (x.load_error.empty() ? "the reader's messages are on standard error"
                                       : x.load_error)
              << "): the gate refuses every command\n";
  } else if (x.load == DryRun::Load::kRunEnds) {
    std::cout << ": reading \"enable_log\" fails (" << x.load_error << "): the gate's run ends\n";
  } else {
    std::cout << "\n";
  }
  for (const Json::Value& section : out["sections"]) {
    const std::string name = section["name"].asString();
    const unsigned method = section["method"].asUInt();
    std::cout << name << ": ";
    if (section.isMember("method")) {
      std::cout << "check method " << method << " (" << method_meaning(method) << ")";
      if (section.isMember("missing")) std::cout << ", the section is missing";
    }
    std::cout << "\n";
    if (method == kMethodAncestor && section["steps"].empty())
      std::cout << "    no ancestor's command line matched an entry\n";
    print_steps(section["steps"]);
    const std::string result = section["result"].asString();
    if (result == "run ends") {
      std::cout << "  a policy value cannot be converted (" << section["error"].asString()
                << "): the gate's run ends and the command is refused; 'corvexin_policy check' "
                   "shows where\n";
    } else {
      std::cout << "  " << name << " "
                << (result == "undecided" ? "leaves the command undecided"
                                          : result + " the command")
                << "\n";
    }
  }
  const std::string verdict = out["verdict"].asString();
  std::cout << "verdict: " << verdict
            << (verdict == "allowed"   ? ": the gate would run the command"
                : verdict == "refused" ? ": the gate would not run the command"
                                       : ": it depends on the role lookup that was not made")
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
                           options.no_lookup ? DryRun::Roles::kNone : DryRun::Roles::kAsk);
  }
  const Json::Value out = to_json(options, x);
  if (options.json) {
    print_json(out);
  } else {
    print_text(out, x);
  }
  // A policy that does not load leaves the outcome refused.
  return x.outcome.verdict == Outcome::Verdict::kAllowed   ? 0
         : x.outcome.verdict == Outcome::Verdict::kRefused ? 1
                                                           : 3;
}

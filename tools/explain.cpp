#include "explain.h"

#include <json/writer.h>

#include <iostream>

#include "dry_run.h"
#include "gate.h"
#include "report.h"

namespace {

const char* method_name(unsigned method) {
  static const char* const kNames[] = {"no check: allows every command", "white list",
                                       "black list: refuses every command", "ancestor check"};
  return method <= kMethodAncestor ? kNames[method] : "no such method: refuses every command";
}

// What the watch points saw while the gate's decision code decided; how
// each match decided is read from the decision's own record.
struct Trace {
  const ExplainOptions* options = nullptr;
  const DryRun* run = nullptr;  // its last role check and the service's reply
  Json::Value steps[2];         // of each section asked
  std::string text;             // the text the entries were last tried on
} trace;

unsigned section_index() {
  return decision.count > 0 ? decision.count - 1 : 0;
}

Json::Value& step(const char* kind) {
  Json::Value& s = trace.steps[section_index()].append(Json::Value(Json::objectValue));
  s["step"] = kind;
  return s;
}

// Called once the entry is decided: for a match, the record tells how.
void on_entry_tried(const char* text, unsigned index, const std::string& pattern, int result) {
  if (text != trace.text) {
    trace.text = text;
    if (text != trace.options->command) step("ancestor")["command_line"] = text;
  }
  Json::Value& s = step("entry");
  s["index"] = index;
  s["pattern"] = pattern;
  s["result"] = result == 0 ? "match" : result == 1 ? "no match" : "error";
  if (result != 0) return;
  const SectionDecision& record = section_record();
  if (record.rule != MatchRule::kRoleCheck) {
    s["why"] = record.rule == MatchRule::kCookieFlagZero
                   ? "its \"is_cookie_check\" is 0"
                   : "the section checks types and its \"type\" is 0";
    return;
  }
  const Json::Value& policy = root;
  Json::Value& lookup = step("role_lookup");
  lookup["role_right"] = policy[record.name]["white_cmd_list"][index]["role_right"];
  lookup["made"] = trace.run->answered;
  uid_t uid = 0;
  bool given = false;
  if (role_service_user(root, &uid, &given) == nullptr && given) lookup["service_uid"] = uid;
  if (!trace.run->answered) return;
  Json::Value& check = step("role_check");
  check["reply"] = trace.run->reply;
  if (!record.user.empty()) check["user"] = record.user;
  check["result"] = record.role_result == 0 ? "passed" : "refused";
}

// The gate's decision of the command under the loaded policy, told section
// by section from the decision's record: "allows", "refuses", "undecided"
// (a lookup was not made) or "run ends" (a value the gate cannot convert).
Json::Value decide(const ExplainOptions& options, DryRun& run) {
  Json::Value out(Json::objectValue);
  out["policy"] = options.policy;
  out["command"] = options.command;
  out["sections"] = Json::Value(Json::arrayValue);
  out["verdict"] = "refused";
  std::string error;
  const DryRun::Load load = run.load(options.policy, options.policy == kPolicyPath, &error);
  out["loaded"] = load != DryRun::Load::kNotLoaded;
  if (load == DryRun::Load::kRunEnds) out["error"] = error;
  if (load != DryRun::Load::kLoaded) return out;
  out["enable_log"] = run.policy_enable_log();
  error = run.decide(options.command, options.cookie);
  const Json::Value& policy = root;
  for (unsigned i = 0; i < decision.count; ++i) {
    const SectionDecision& record = decision.sections[i];
    Json::Value& section = out["sections"].append(Json::Value(Json::objectValue));
    section["name"] = record.name;
    if (policy[record.name].isNull()) section["missing"] = true;
    if (record.read) {
      section["is_type_check"] = record.type_check;
      section["method"] = record.method;
    }
    section["result"] = run.section_result(i);
    if (record.result < 0) section["error"] = error;
    section["steps"] = trace.steps[i];
  }
  const DryRun::Verdict verdict = run.verdict();
  out["verdict"] = verdict == DryRun::Verdict::kAllowed   ? "allowed"
                   : verdict == DryRun::Verdict::kRefused ? "refused"
                                                          : "undecided";
  return out;
}

void print_step(const Json::Value& s) {
  const std::string kind = s["step"].asString();
  if (kind == "ancestor") {
    std::cout << "  ancestor's command line " << quoted(s["command_line"].asString()) << "\n";
  } else if (kind == "entry") {
    std::cout << "    entry [" << s["index"].asUInt() << "] " << quoted(s["pattern"].asString())
              << ": " << s["result"].asString();
    if (s["result"] == "error") std::cout << " (does not compile; never matches)";
    std::cout << "\n";
  } else if (kind == "role_lookup") {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "";
    std::cout << "    the entry demands the role rights "
              << Json::writeString(writer, s["role_right"])
              << (s["made"].asBool() ? ": role lookup made\n"
                                     : ": no role lookup made (--no-lookup), the check refuses\n");
    if (s.isMember("service_uid"))
      std::cout << "    (asked only of a role service whose socket root or uid "
                << s["service_uid"].asUInt() << " (\"role_service_user\") owns)\n";
  } else if (kind == "role_check") {
    std::cout << "    the role service answered " << quoted(s["reply"].asString()) << "\n";
    std::cout << "    role check " << s["result"].asString();
    if (s.isMember("user")) std::cout << " for user " << quoted(s["user"].asString());
    std::cout << "\n";
  }
}

void print_text(const Json::Value& out) {
  std::cout << "policy " << out["policy"].asString();
  if (!out["loaded"].asBool()) {
    std::cout << " does not load (the reader's messages are on standard error): the gate "
                 "refuses every command\n";
  } else if (out.isMember("error")) {
    std::cout << ": reading \"enable_log\" fails (" << out["error"].asString()
              << "): the gate's run ends\n";
  } else {
    std::cout << "\n";
  }
  for (const auto& section : out["sections"]) {
    std::cout << section["name"].asString() << ": ";
    if (section.isMember("method")) {
      const unsigned method = section["method"].asUInt();
      std::cout << "check method " << method << " (" << method_name(method) << ")";
      if (section["missing"].asBool()) std::cout << ", the section is missing";
    }
    std::cout << "\n";
    if (section["method"] == kMethodAncestor && section["steps"].empty()) {
      std::cout << "    no ancestor's command line matched an entry\n";
    }
    for (const auto& step : section["steps"]) {
      print_step(step);
      if (step.isMember("why"))
        std::cout << "    allowed by the match alone: " << step["why"].asString() << "\n";
    }
    const std::string result = section["result"].asString();
    if (result == "run ends") {
      std::cout << "  a policy value cannot be converted (" << section["error"].asString()
                << "): the gate's run ends and the command is refused; 'corvexin_policy check' "
                   "shows where\n";
    } else {
      std::cout << "  " << section["name"].asString() << " "
                << (result == "undecided" ? "leaves the command undecided"
                                          : result + " the command")
                << "\n";
    }
  }
  const std::string verdict = out["verdict"].asString();
  std::cout << "verdict: "
            << (verdict == "allowed" ? "allowed: the gate would run the command"
                : verdict == "refused"
                    ? "refused: the gate would not run the command"
                    : "undecided: it depends on the role lookup that was not made")
            << "\n";
}

}  // namespace

int explain_command(const ExplainOptions& options) {
  trace = Trace();
  trace.options = &options;
  Json::Value out;
  {
    DryRun run;
    run.roles = options.lookup ? DryRun::Roles::kAsk : DryRun::Roles::kNone;
    run.entry_tried = on_entry_tried;
    trace.run = &run;
    out = decide(options, run);
  }
  if (options.json) {
    print_json(out);
  } else {
    print_text(out);
  }
  const std::string verdict = out["verdict"].asString();
  return verdict == "allowed" ? 0 : verdict == "refused" ? 1 : 3;
}

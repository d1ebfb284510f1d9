#include "explain.h"

#include <json/writer.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "gate.h"
#include "report.h"

namespace {

// Thrown through the decision to stop it before a role lookup (--no-lookup).
struct LookupStopped {};

const char* method_name(unsigned method) {
  switch (method) {
    case 0:
      return "no check: allows every command";
    case 1:
      return "white list";
    case 2:
      return "black list: refuses every command";
    case 3:
      return "ancestor check";
    default:
      return "no such method: refuses every command";
  }
}

// What the watch points of one section's decision saw.
struct Trace {
  const ExplainOptions* options = nullptr;
  const Json::Value* section = nullptr;  // the section being decided
  Json::Value steps{Json::arrayValue};
  std::string text;  // the text the entries were last tried on
  bool awaiting_reply = false;
  std::string reply;     // the role service's reply body
  unsigned matched = 0;  // the entry that matched last
} trace;

Json::Value& step(const char* kind) {
  Json::Value& s = trace.steps.append(Json::Value(Json::objectValue));
  s["step"] = kind;
  return s;
}

// Why a matching entry allowed without a role check; the gate has converted
// these members already, so reading them cannot fail.
std::string allowed_by_match(unsigned index) {
  const Json::Value& entry = (*trace.section)["white_cmd_list"][index];
  if (entry.get("is_cookie_check", 1).asInt() == 0) return "its \"is_cookie_check\" is 0";
  return "the section checks types and its \"type\" is 0";
}

void on_logged(const char* message, int) {
  // The one message logged during a lookup is the service's reply.
  if (trace.awaiting_reply) trace.reply = message;
}

void on_entry_tried(const char* text, unsigned index, const std::string& pattern, int result) {
  if (text != trace.text) {
    trace.text = text;
    if (text != trace.options->command) step("ancestor")["command_line"] = text;
  }
  Json::Value& s = step("entry");
  s["index"] = index;
  s["pattern"] = pattern;
  s["result"] = result == 0 ? "match" : result == 1 ? "no match" : "error";
  if (result == 0) {
    trace.matched = index;
    s["why"] = allowed_by_match(index);
  }
}

void on_role_lookup() {
  trace.steps[trace.steps.size() - 1].removeMember("why");
  step("role_lookup")["role_right"] =
      (*trace.section)["white_cmd_list"][trace.matched]["role_right"];
  if (!trace.options->lookup) {
    trace.steps[trace.steps.size() - 1]["made"] = false;
    throw LookupStopped();
  }
  trace.steps[trace.steps.size() - 1]["made"] = true;
  trace.awaiting_reply = true;
  trace.reply.clear();
}

void on_role_checked(int result) {
  trace.awaiting_reply = false;
  Json::Value& s = step("role_check");
  s["reply"] = trace.reply;
  const Json::Value& account = group_role;
  if (account.isObject()) {
    if (account["user"].isConvertibleTo(Json::stringValue)) s["user"] = account["user"].asString();
    if (account.isMember("group_value")) s["group_value"] = account["group_value"];
  }
  s["result"] = result == 0 ? "passed" : "refused";
}

const DecisionHooks kHooks = {on_logged, on_entry_tried, on_role_lookup, on_role_checked};

// Decides one section with check_fun. "allows", "refuses", "undecided"
// (stopped before a lookup) or "run ends" (a value the gate cannot convert).
Json::Value decide_section(const char* name, const ExplainOptions& options) {
  Json::Value out(Json::objectValue);
  out["name"] = name;
  trace.steps = Json::Value(Json::arrayValue);
  trace.text.clear();
  const Json::Value& policy = root;
  try {
    const Json::Value& section = policy[name];
    trace.section = &section;
    if (section.isNull()) out["missing"] = true;
    // Read in check_fun's order, so that a value it cannot convert fails here
    // with the same message.
    out["is_type_check"] = section["is_type_check"].asUInt();
    out["method"] = section["check_method"].asUInt();
    const int result = check_fun(options.command.c_str(), section, options.cookie.c_str());
    out["result"] = result == 0 ? "allows" : "refuses";
  } catch (const LookupStopped&) {
    out["result"] = "undecided";
  } catch (const std::exception& e) {
    out["result"] = "run ends";
    out["error"] = e.what();
  }
  out["steps"] = trace.steps;
  return out;
}

// The gate's order: the scripts section, then the ui section only when the
// scripts section does not allow. A stopped section leaves the verdict open
// unless the other one settles it.
Json::Value decide(const ExplainOptions& options) {
  Json::Value out(Json::objectValue);
  out["policy"] = options.policy;
  out["command"] = options.command;
  out["sections"] = Json::Value(Json::arrayValue);
  try {
    if (read_policy_file(options.policy.c_str(), options.policy == kPolicyPath) != 0) {
      out["loaded"] = false;
      out["verdict"] = "refused";
      return out;
    }
  } catch (const std::exception& e) {
    out["loaded"] = true;
    out["error"] = e.what();
    out["verdict"] = "refused";
    return out;
  }
  out["loaded"] = true;
  out["enable_log"] = enable_log;
  enable_log = 0;  // the gate's trace lines would only repeat what is told here
  const Json::Value scripts = decide_section("scripts_section", options);
  out["sections"].append(scripts);
  const std::string first = scripts["result"].asString();
  if (first == "allows") {
    out["verdict"] = "allowed";
    return out;
  }
  if (first == "run ends") {
    out["verdict"] = "refused";
    return out;
  }
  const Json::Value ui = decide_section("ui_section", options);
  out["sections"].append(ui);
  const std::string second = ui["result"].asString();
  if (second == "allows") {
    out["verdict"] = "allowed";
  } else if (first == "undecided" || second == "undecided") {
    out["verdict"] = "undecided";
  } else {
    out["verdict"] = "refused";
  }
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
                                     : ": stopped before the role lookup (--no-lookup)\n");
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
    if (section["method"] == 3 && section["steps"].empty()) {
      std::cout << "    no ancestor's command line matched an entry\n";
    }
    const Json::Value& steps = section["steps"];
    for (Json::ArrayIndex i = 0; i < steps.size(); ++i) {
      print_step(steps[i]);
      const bool allowed_here = steps[i]["result"] == "match" &&
                                (i + 1 == steps.size() || steps[i + 1]["step"] != "role_lookup") &&
                                section["result"] == "allows";
      if (allowed_here)
        std::cout << "    allowed by the match alone: " << steps[i]["why"].asString() << "\n";
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
  trace.options = &options;
  decision_hooks = &kHooks;
  // The decision's own messages to standard output (a reply that does not
  // parse, the reader's messages) go to standard error, so that standard
  // output carries the explanation alone.
  fflush(stdout);
  const int saved = dup(1);
  dup2(2, 1);
  Json::Value out = decide(options);
  fflush(stdout);
  if (saved >= 0) {
    dup2(saved, 1);
    close(saved);
  }
  decision_hooks = nullptr;
  if (options.json) {
    Json::StreamWriterBuilder writer;
    writer["indentation"] = "  ";
    std::cout << Json::writeString(writer, out) << "\n";
  } else {
    print_text(out);
  }
  const std::string verdict = out["verdict"].asString();
  return verdict == "allowed" ? 0 : verdict == "refused" ? 1 : 3;
}

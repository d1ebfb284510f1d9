#include "check.h"

#include <json/value.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <functional>
#include <map>

#include "decision.h"
#include "document.h"
#include "files.h"
#include "json_document.h"
#include "json_text.h"
#include "machine.h"
#include "pattern.h"
#include "policy.h"
#include "risks.h"
#include "role_rights.h"
#include "service_owner.h"
#include "shell.h"
#include "trust.h"
#include "vocabulary.h"
#include "white_list.h"

namespace {

class PolicyChecker {
 public:
  explicit PolicyChecker(Report& report) : r_(report) {}

  // Walks the policy in the order of a gate run.
  void policy(const Json::Value& root) {
    if (!root.isObject() && !root.isNull()) {
      r_.add("run-ends", "$", root,
             "the policy is " + type_name(root) +
                 ", not an object: reading \"enable_log\" from it ends every gate run");
      return;
    }
    convert(root, "$", kEnableLogMember, [&] { (void)policy_log_switch(root); });
    int syslog = 1;
    convert(root, "$", kSyslogMember, [&] { syslog = policy_syslog_switch(root); });
    if (syslog == 0) {
      r_.add("no-syslog", member_path("$", kSyslogMember), root[kSyslogMember],
             "is 0: the gate sends no system-log record of its decisions");
    }
    const char* scripts = kSectionNames[0];
    const char* ui = kSectionNames[1];
    unknown_members(root, "$", kPolicyMembers);
    uid_t service_uid = 0;
    bool service_user = false;
    if (const char* wrong =
            role_service_user(service_user_rule(root), &service_uid, &service_user)) {
      r_.add(
          "no-service-user", member_path("$", kServiceUserMember), root[kServiceUserMember],
          std::string(wrong) + ": every role lookup fails, and every role-checked entry refuses");
    } else if (service_user) {
      const std::string weak = service_user_weakness(service_uid);
      if (!weak.empty())
        r_.add("weak-service-user", member_path("$", kServiceUserMember), root[kServiceUserMember],
               weak);
    }
    if (!section(root, scripts)) {
      section(root, ui);
    } else if (root.isMember(ui)) {
      r_.add("never-consulted", member_path("$", ui), root[ui],
             std::string("is never consulted: the ") + scripts + " allows every command first");
    }
  }

  bool role_checked_entries() const { return role_checked_; }

 private:
  // Runs one of the gate's conversions of a member of object, at path, and
  // reports it when it throws, which ends a gate run; true when it converts.
  // member is read after the failure: a conversion of several members names
  // the one it failed on.
  bool convert(const Json::Value& object, const std::string& path, const char* const& member,
               const std::function<void()>& how,
               const std::string& when = "every gate run that reaches it") {
    try {
      how();
      return true;
    } catch (const Json::Exception& e) {
      r_.add("run-ends", member_path(path, member), at(object, member),
             "cannot be converted (" + std::string(e.what()) + "): " + when +
                 " ends without running the command");
      return false;
    }
  }
  // The place of object[name] in the file, or of the object when it is missing.
  static const Json::Value& at(const Json::Value& object, const char* name) {
    return object.isObject() && object.isMember(name) ? object[name] : object;
  }

  // Reports the members of object that are not in its table of known names.
  template <size_t N>
  void unknown_members(const Json::Value& object, const std::string& path,
                       const char* const (&names)[N]) {
    if (!object.isObject()) return;
    const std::vector<std::string> known(names, names + N);
    for (const auto& name : object.getMemberNames()) {
      if (std::find(known.begin(), known.end(), name) != known.end()) continue;
      const std::string suggestion = similar_name(name, known);
      std::string message = "is ignored: the gate reads no member of this name";
      if (!suggestion.empty()) message += "; did you mean \"" + suggestion + "\"?";
      r_.add("ignored-member", member_path(path, name), object[name], message);
    }
  }

  // Reports object's member name, when it is there, as one the gate never
  // reads, and why.
  void ignored(const Json::Value& object, const std::string& path, const char* name,
               const std::string& why) {
    if (object.isMember(name)) r_.add("ignored-member", member_path(path, name), object[name], why);
  }

  // One section; true when it allows every command (method 0, or missing).
  bool section(const Json::Value& root, const char* name) {
    const std::string path = member_path("$", name);
    const Json::Value& s = root[name];
    const bool ui = name == kSectionNames[1];
    const std::string all =
        ui ? std::string("every command that the ") + kSectionNames[0] + " refuses"
           : "every command";
    if (s.isNull() && !root.isMember(name)) {
      // Left out, or misspelt (the other section's name is too far off to be
      // taken for one): an accident that gives every caller root.
      const std::string meant = similar_name(name, root.getMemberNames());
      r_.add("allows-by-omission", path, root,
             "is missing" + (meant.empty() ? "" : " (\"" + meant + "\" is no section)") +
                 ": it reads as check method 0 and allows " + all + "; " +
                 (meant.empty() ? std::string("add \"") + name +
                                      "\": {\"check_method\": 2} to refuse them, or a white list "
                                      "with \"check_method\": 1"
                                : "rename \"" + meant + "\" to \"" + name + "\""));
      return true;
    }
    if (s.isNull()) {
      r_.add("allows-everything", path, at(root, name),
             "is null: it reads as check method 0 and allows " + all);
      return true;
    }
    if (!s.isObject()) {
      r_.add("run-ends", path, s,
             "is " + type_name(s) +
                 ", not an object: reading its members ends every gate run that evaluates it");
      return false;
    }
    // The gate converts the section's numbers in its order, whatever the
    // method, and the first that fails ends the run; each one that fails is
    // reported, the others converted without it.
    SectionNumbers numbers{};
    bool method_known = true;
    for (Json::Value rest = s;;) {
      const char* reading = "";
      if (convert(s, path, reading, [&] { numbers = read_section_numbers(rest, &reading); })) break;
      method_known = method_known && std::string(reading) != kMethodMember;
      rest.removeMember(reading);
    }
    const unsigned method = numbers.method;
    unknown_members(s, path, kSectionMembers);
    ignored(s, path, kCookieCheckMember,
            "has no effect: each entry's own \"is_cookie_check\" decides");
    ignored(s, path, kBlackListMember,
            "is never read: check method 2 refuses every command without consulting a list");
    if (!method_known) return false;
    const bool uses_list = method_reads_white_list(method);
    if (!uses_list) {
      ignored(s, path, kWhiteListMember,
              "is never read: check method " + std::to_string(method) + " does not use it");
    }
    if (method == kMethodNone && !s.isMember(kMethodMember)) {
      r_.add("allows-by-omission", member_path(path, kMethodMember), s,
             "is missing, so 0: the section allows " + all +
                 "; write \"check_method\": 2 to refuse them, or 1 with a white list");
      return true;
    }
    if (method == kMethodNone) {
      r_.add("allows-everything", member_path(path, kMethodMember), at(s, kMethodMember),
             "is 0: the section allows " + all);
      return true;
    }
    if (method > kMethodAncestor) {
      r_.add("unknown-method", member_path(path, kMethodMember), s[kMethodMember],
             "is " + std::to_string(method) +
                 ", which is no check method (0 to 3): the section refuses every command");
    }
    if (uses_list) white_list(s, path, method, numbers.type_check);
    return false;
  }

  void white_list(const Json::Value& s, const std::string& section_path, unsigned method,
                  int type_check) {
    const std::string path = member_path(section_path, kWhiteListMember);
    const Json::Value& list = s[kWhiteListMember];
    if (list.isObject() && list.size() > 0) {
      r_.add("run-ends", path, list,
             "is an object with members, not an array: indexing it ends every gate run that "
             "evaluates the section");
      return;
    }
    if (list.size() == 0 || !list.isArray()) {
      const std::string what = !s.isMember(kWhiteListMember) ? "is missing"
                               : list.isArray()              ? "is empty"
                                                : "is " + type_name(list) + ", not an array";
      r_.add("no-entries", path, at(s, kWhiteListMember),
             what + ": the list has no entries and the section refuses every command");
      return;
    }
    int catch_all = -1;
    std::map<std::string, unsigned> seen;
    SectionAnalysis analysis;
    for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
      const std::string entry_path = index_path(path, i);
      const Json::Value& entry = list[i];
      if (catch_all >= 0) {
        r_.add("unreachable", entry_path, entry,
               "is never tried: entry [" + std::to_string(catch_all) +
                   "] before it matches every text, and the first match decides");
        continue;
      }
      if (!entry.isObject() && !entry.isNull()) {
        r_.add("run-ends", entry_path, entry,
               "is " + type_name(entry) +
                   ", not an object: reading its pattern ends every gate run that reaches it");
        continue;
      }
      const std::string pattern_path = member_path(entry_path, kPatternMember);
      const Json::Value& pattern_at = at(entry, kPatternMember);
      std::string pattern;
      int cookie_flag = 1;
      const bool pattern_ok =
          convert(entry, entry_path, kPatternMember, [&] { pattern = pattern_of(entry); });
      convert(entry, entry_path, kCookieCheckMember, [&] { cookie_flag = cookie_flag_of(entry); });
      unknown_members(entry, entry_path, kEntryMembers);
      if (!pattern_ok) continue;
      const std::string written = entry[kPatternMember].asString();
      if (entry.isMember(kPatternMember) && !entry[kPatternMember].isString()) {
        r_.add("pattern-not-string", pattern_path, pattern_at,
               "is " + type_name(entry[kPatternMember]) +
                   ", not a string: the gate reads it as the " + "pattern " + quoted(written));
      }
      if (written.size() != pattern.size()) {
        r_.add("nul-in-pattern", pattern_path, pattern_at,
               quoted(written) + " holds a NUL byte: the gate's matcher receives only " +
                   quoted(pattern) + " and ignores " + quoted(written.substr(pattern.size())));
      }
      const std::string error = pattern_error(pattern.c_str());
      if (!error.empty()) {
        r_.add("bad-pattern", pattern_path, pattern_at,
               quoted(pattern) + " does not compile (" + error + "): the entry never matches");
        continue;
      }
      // A pattern not anchored at both ends is reported as such, with an
      // example of a metacharacter: its other risks are not looked for.
      SectionAnalysis::Shell shell = SectionAnalysis::Shell::kNone;
      if (method == kMethodWhiteList) {
        const PatternShape shape = pattern_shape(pattern);
        shell = shape.anchored_start && shape.anchored_end ? SectionAnalysis::Shell::kAll
                                                           : SectionAnalysis::Shell::kMetacharsOnly;
      }
      const std::vector<RiskFinding> risks = analysis.next(pattern, i, shell);
      if (method == kMethodWhiteList) {
        shape(pattern, pattern_path, pattern_at, risks);
        for (const MachineFinding& f : machine_findings(pattern))
          r_.add(f.code, pattern_path, pattern_at, quoted(pattern) + " " + f.message, f.example);
      }
      const auto [earlier, first] = seen.emplace(pattern, i);
      if (!first) {
        r_.add("unreachable", entry_path, entry,
               "never matches first: entry [" + std::to_string(earlier->second) +
                   "] before it has the same pattern, and the first match decides");
        continue;
      }
      const auto covered = std::find_if(
          risks.begin(), risks.end(), [](const RiskFinding& f) { return f.code == "unreachable"; });
      if (covered != risks.end()) {
        r_.add("unreachable", entry_path, entry, risk_message(*covered));
        continue;
      }
      if (matches_everything(pattern)) catch_all = static_cast<int>(i);
      role(entry, entry_path, method, type_check, cookie_flag);
    }
  }

  // Method 1 gives the command to a shell: the pattern must leave it no room.
  // The exact analysis (risks) decides where it could model the pattern;
  // the token-level reading stands in where it could not.
  void shape(const std::string& pattern, const std::string& path, const Json::Value& at,
             const std::vector<RiskFinding>& risks) {
    const PatternShape shape = pattern_shape(pattern);
    std::string example;
    bool exact = true;
    for (const RiskFinding& f : risks) {
      if (f.code == "shell-metachar") example = f.example;
      if (f.code != "not-analysed") continue;
      // Said whatever else is found: what was not proved is never passed.
      exact = false;
      r_.add(f.code, path, at, quoted(pattern) + " " + risk_message(f));
    }
    if (!shape.anchored_start || !shape.anchored_end) {
      const char* missing = !shape.anchored_start && !shape.anchored_end ? "at either end"
                            : !shape.anchored_start                      ? "at its start with '^'"
                                                                         : "at its end with '$'";
      r_.add("not-anchored", path, at,
             quoted(pattern) + " is not anchored " + missing +
                 ": it is searched anywhere in the command line, so a command that merely "
                 "contains a match, such as \"ALLOWED; anything\", runs through the shell",
             example);
      return;
    }
    for (const RiskFinding& f : risks) {
      if (f.code == "unreachable" || f.code == "not-analysed") continue;
      r_.add(f.code, path, at, quoted(pattern) + " " + risk_message(f), f.example);
    }
    if (exact || shape.metachars.empty()) return;
    const RiskFinding f =
        risk_finding("shell-metachar", listed_chars(shape.metachars), shape.admitted_by);
    r_.add(f.code, path, at, quoted(pattern) + " " + risk_message(f));
  }

  // What the gate reads of a matching entry: its type, and for a role check
  // its role_right.
  void role(const Json::Value& entry, const std::string& path, unsigned method, int type_check,
            int cookie_flag) {
    MatchRule rule = MatchRule::kRoleCheck;
    if (!convert(
            entry, path, kTypeMember, [&] { rule = match_rule(entry, cookie_flag, type_check); },
            "every gate run whose command matches the entry")) {
      return;
    }
    if (type_check == 0) {
      ignored(entry, path, kTypeMember,
              "is never read: the section's \"is_type_check\" is 0, so every match with a "
              "non-zero \"is_cookie_check\" gets a role check");
    }
    if (method == kMethodAncestor) ancestor(entry, path, rule);
    const std::string rights_path = member_path(path, kRoleRightMember);
    if (rule != MatchRule::kRoleCheck) {
      ignored(entry, path, kRoleRightMember,
              std::string("is never read: a match allows without a role check (") +
                  (rule == MatchRule::kCookieFlagZero ? "\"is_cookie_check\" is 0)"
                   : entry.isMember(kTypeMember)      ? "\"type\" is 0)"
                                                      : "\"type\" is missing, so 0)"));
      return;
    }
    role_checked_ = true;
    const Json::Value& rights = entry[kRoleRightMember];
    if (!rights.isObject() && !rights.isNull()) {
      r_.add("run-ends", rights_path, rights,
             "is " + type_name(rights) +
                 ", not an object: reading its levels ends the run for every matching command "
                 "of a user other than the internal administrator");
      return;
    }
    unknown_members(rights, rights_path, kRightCategories);
    bool grants = false, readable = true;
    for (const char* category : kRightCategories) {
      int level = 0;
      readable = convert(
                     rights, rights_path, category, [&] { level = right_level(rights, category); },
                     "a matching command of a user whom no earlier category grants") &&
                 readable;
      grants = grants || check_right(INT_MAX, level) == 0;  // some group's level meets it
    }
    if (!grants && readable) {
      r_.add("never-grants", rights.isNull() ? path : rights_path, rights.isNull() ? entry : rights,
             std::string(rights.isNull() ? "has no \"role_right\"" : "demands no level above 0") +
                 ": the role check passes the internal administrator (\"admin\") alone and "
                 "refuses every other user");
    }
  }

  // The ancestor check trusts command lines, which every process may choose
  // for itself (exec -a, or writing over its own arguments).
  void ancestor(const Json::Value& entry, const std::string& path, MatchRule rule) {
    if (rule != MatchRule::kRoleCheck) {
      r_.add("ancestor-without-role-check", path, entry,
             "allows every command without a role check when an ancestor's command line matches: "
             "any local process able to start the gate can take that command line and run every "
             "command as root");
    } else {
      r_.add("ancestor-role-check", path, entry,
             "the ancestor check is only as strong as this entry's role check: any local process "
             "able to start the gate can take a matching command line, and then the web user's "
             "rights alone decide");
    }
  }

  Report& r_;
  bool role_checked_ = false;
};

bool same_file(const std::string& a, const char* b) {
  struct stat sa {
  }, sb{};
  return stat(a.c_str(), &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

}  // namespace

Report check_policy_file(const std::string& path, bool as_installed, const std::string& shown_as) {
  std::string text, problem;
  if (path == "-") {
    problem = read_whole(stdin, &text).message();
  } else {
    text = read_policy_text(path.c_str());
    if (text.empty()) problem = policy_unread(path, false);
  }
  Report report(!shown_as.empty() ? shown_as : path == "-" ? "<stdin>" : path, text);
  Json::Value policy;
  std::vector<PolicyError> errors;
  bool role_checked = false;
  if (!problem.empty()) {
    // One cause, one error: the reader's message about the empty text would
    // only repeat it.
    report.add_at("load-failed", 0, problem + "; the gate refuses every command");
  } else if (!parse_policy_text(text, policy, nullptr, &errors)) {
    for (const auto& e : errors) {
      report.add_at("load-failed", e.offset,
                    e.message + " (the policy does not load: the gate refuses every command)");
    }
  } else {
    report_document(text, report);
    PolicyChecker checker(report);
    checker.policy(policy);
    role_checked = checker.role_checked_entries();
  }
  for (const std::string& rule : SectionAnalysis::table_problems()) {
    report.add_file("bad-risk-rule", kRiskTablePath, rule);
  }
  if (as_installed) {
    check_trusted_files(report, role_checked, path, report.file());
  } else if (path != "-" && (path == kPolicyPath || same_file(path, kPolicyPath))) {
    check_trusted_files(report, role_checked);
  }
  return report;
}

int check_command(const std::vector<std::string>& paths, bool json, bool as_installed,
                  bool accept_warnings) {
  std::vector<Report> reports;
  reports.reserve(paths.size());
  for (const std::string& path : paths) reports.push_back(check_policy_file(path, as_installed));
  if (json) {
    print_json(reports_json(reports));
  } else {
    for (const Report& report : reports) report.print_text();
  }
  int status = 0;
  for (const Report& report : reports) status = std::max(status, report.status());
  return accept_warnings && status == 1 ? 0 : status;
}

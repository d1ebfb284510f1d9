#include "decision.h"

#include <cstdio>

#include "ancestry.h"
#include "log.h"
#include "log_lines.h"
#include "policy.h"
#include "white_list.h"

Decision decision;

unsigned section_index() {
  return decision.count > 0 ? decision.count - 1 : 0;
}

SectionDecision& section_record() {
  return decision.sections[section_index()];
}

namespace {

// Starts the record of section i of the policy and asks it.
int ask_section(unsigned i, const char* command, const char* cookie, const DecisionHooks* hooks) {
  SectionDecision& record = decision.sections[i];
  record = SectionDecision();
  record.name = kSectionNames[i];
  decision.count = i + 1;
  const Json::Value& policy = root;
  return record.result = check_fun(command, policy[record.name], cookie, hooks);
}

}  // namespace

int check_parameters(const char* command, const char* cookie, bool privileged) {
  decision.loaded = false;
  decision.count = 0;
  decision.verdict = -1;
  decision.logged = false;
  if (read_json_file(privileged) != 0) {
    log_param(kLogNotLoaded, 1);
    return decision.verdict = 1;
  }
  return decide_sections(command, cookie);
}

int decide_sections(const char* command, const char* cookie, const DecisionHooks* hooks) {
  decision.loaded = true;
  decision.count = 0;
  decision.verdict = -1;
  decision.logged = false;
  if (ask_section(0, command, cookie, hooks) != 0 && ask_section(1, command, cookie, hooks) != 0) {
    log_refusal(command);
    return decision.verdict = 1;
  }
  decision.logged = log_allowed(command, section_index(), 0);
  return decision.verdict = 0;
}

// Reading goes through the const operator[], which never adds members.
SectionNumbers read_section_numbers(const Json::Value& s, const char** reading) {
  const char* member = nullptr;
  const char** at = reading != nullptr ? reading : &member;
  SectionNumbers numbers{};
  *at = kTypeCheckMember;
  numbers.type_check = static_cast<int>(s[*at].asUInt());
  *at = kMethodMember;
  numbers.method = s[*at].asUInt();
  *at = kCookieCheckMember;
  (void)s[*at].asUInt();
  return numbers;
}

// Decides one policy section by its check method. All three numeric members
// are converted before the method is looked at, so a member of the wrong type
// ends the run whatever the method.
int check_fun(const char* command, const Json::Value& s, const char* cookie,
              const DecisionHooks* hooks) {
  const SectionNumbers numbers = read_section_numbers(s);
  SectionDecision& record = section_record();
  record.read = true;
  record.method = numbers.method;
  record.type_check = numbers.type_check;

  switch (numbers.method) {
    case kMethodNone:
      if (enable_log) puts("no need check");
      return 0;
    case kMethodWhiteList:
      if (enable_log) puts("white list check");
      return white_check(command, s[kWhiteListMember], numbers.type_check, cookie, record, hooks);
    case kMethodBlackList:
      if (enable_log) puts("black list check");
      return black_check(command, s[kBlackListMember], numbers.type_check, cookie);
    case kMethodAncestor:
      if (enable_log) puts("ancestor check");
      return ancestor_check(command, s[kWhiteListMember], numbers.type_check, cookie, record,
                            hooks);
    default:
      return 1;
  }
}

// Method 2 refuses every command; the list is not consulted.
int black_check(const char*, const Json::Value&, int, const char*) {
  return 1;
}

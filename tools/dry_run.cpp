#include "dry_run.h"

#include <unistd.h>

#include <cstdio>

#include "policy.h"
#include "role_lookup.h"

DryRun::DryRun() {
  fflush(stdout);
  saved_stdout_ = dup(1);
  dup2(2, 1);
}

DryRun::~DryRun() {
  fflush(stdout);
  if (saved_stdout_ >= 0) {
    dup2(saved_stdout_, 1);
    close(saved_stdout_);
  }
  decision_hooks = nullptr;
}

DryRun::Load DryRun::load(const std::string& path, bool trusted_only, std::string* error) {
  try {
    if (read_policy_file(path.c_str(), trusted_only, false) != 0) return Load::kNotLoaded;
  } catch (const std::exception& e) {
    *error = e.what();
    return Load::kRunEnds;
  }
  enable_log_ = enable_log;
  enable_log = 0;  // the gate's trace lines would only repeat what the tool tells
  return Load::kLoaded;
}

std::string DryRun::decide(const std::string& command, const std::string& cookie) {
  const DecisionHooks kFromProc = {this, on_logged, on_entry_tried, on_role_lookup, nullptr};
  const DecisionHooks kGivenAncestors = {this, on_logged, on_entry_tried, on_role_lookup,
                                         on_ancestor};
  unanswered[0] = unanswered[1] = false;
  answered = false;
  reply.clear();
  group_role = Json::Value();  // as at the start of a gate run
  decision_hooks = ancestors != nullptr ? &kGivenAncestors : &kFromProc;
  std::string error;
  try {
    decide_sections(command.c_str(), cookie.c_str());
  } catch (const std::exception& e) {
    error = e.what();
  }
  decision_hooks = nullptr;
  return error;
}

DryRun::Verdict DryRun::verdict() const {
  if (decision.verdict == 0) return Verdict::kAllowed;
  for (unsigned i = 0; i < decision.count; ++i) {
    if (section_undecided(i)) return Verdict::kUndecided;
  }
  return Verdict::kRefused;
}

const char* DryRun::section_result(unsigned i) const {
  const int result = decision.sections[i].result;
  return result == 0            ? "allows"
         : result < 0           ? "run ends"
         : section_undecided(i) ? "undecided"
                                : "refuses";
}

void DryRun::on_logged(void* context, const char* message, int) {
  DryRun* current_ = static_cast<DryRun*>(context);
  // The one message logged during a lookup is the service's reply.
  if (current_->in_lookup_) current_->reply = message;
}

void DryRun::on_entry_tried(void* context, const char* text, unsigned index,
                            const std::string& pattern, int result) {
  DryRun* current_ = static_cast<DryRun*>(context);
  if (current_->entry_tried != nullptr) current_->entry_tried(text, index, pattern, result);
}

// Replaces the gate's role lookup: the real one, watched; the role given, put
// where a parsed reply would be; or none, which leaves group_role without a
// user, as a lookup that fails would.
void DryRun::on_role_lookup(void* context, const char* cookie) {
  DryRun& run = *static_cast<DryRun*>(context);
  run.reply.clear();
  run.answered = run.roles != Roles::kNone;
  switch (run.roles) {
    case Roles::kNone:
      run.unanswered[&section_record() - decision.sections] = true;
      break;
    case Roles::kGiven:
      group_role = run.role;
      break;
    case Roles::kAsk:
      run.in_lookup_ = true;
      get_role_right(cookie);
      run.in_lookup_ = false;
      break;
  }
}

const char* DryRun::on_ancestor(void* context, unsigned generation) {
  DryRun* current_ = static_cast<DryRun*>(context);
  const std::vector<std::string>& lines = *current_->ancestors;
  return generation < lines.size() ? lines[generation].c_str() : nullptr;
}

// Deciding commands with the gate's own decision code without running them
// and without writing the gate's log: what "corvexin_policy explain", "test"
// and "suggest" share. A decision comes back as a value, an Outcome, which
// each command renders as text or JSON.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "decision.h"
#include "vocabulary.h"

// A white-list entry that the decision tried on a text, with check_regexp's
// result; for a match, how it decided, as the record told right then.
struct EntryTried {
  unsigned section = 0;   // index in kSectionNames
  std::string text = {};  // the command, or an ancestor's command line
  unsigned index = 0;     // in the section's white_cmd_list
  std::string pattern = {};
  int result = 1;  // 0 match, 1 no match, 2 the pattern does not compile
  // Of a match:
  MatchRule rule = MatchRule::kRoleCheck;
  bool ended_run = false;    // its role check ended the run (a value the gate cannot convert)
  bool lookup_made = false;  // a role lookup (or a given role) answered its role check
  const char* lookup_skipped = nullptr;  // why the gate would make no lookup ("no settings")
  std::string reply = {};                // the service's reply to that lookup
  std::string user = {};                 // the user the role check read
  int role_result = -1;                  // check_role_right's result, -1 when not reached
};

// The decision of one command.
struct Outcome {
  // Run, refuse, or undecided: refused, but a section that refused had a
  // role check without an answer.
  enum class Verdict { kAllowed, kRefused, kUndecided };
  Verdict verdict = Verdict::kRefused;
  Decision record;                      // the decision's record, copied
  std::vector<EntryTried> tried;        // in the order tried
  std::string error;                    // what ended the run; empty when it did not end
  bool unanswered[kSectionCount] = {};  // a role check of the section had no answer

  bool section_undecided(unsigned i) const {
    return record.sections[i].result != 0 && unanswered[i];
  }
  // How section i decided: "allows", "refuses", "undecided" or "run ends".
  const char* section_result(unsigned i) const;
  // "allow", "refuse" or "undecided".
  const char* verdict_word() const;
};

class DryRun {
 public:
  // How a policy file loads: as the gate loads it, or not at all (the gate
  // refuses every command), or reading "enable_log" ends the gate's run.
  enum class Load { kLoaded, kNotLoaded, kRunEnds };
  // Loads the policy at path as the gate would (trusted_only: with its rule
  // on the file's owner and mode); error: why a run ends, or why the file
  // is not used. The reader's messages go to standard error.
  Load load(const std::string& path, bool trusted_only, std::string* error);
  // The loaded policy's "enable_log", which the dry run switches off.
  int policy_enable_log() const { return enable_log_; }

  // How each role check learns the web user's role: from the web service,
  // as the gate asks it; from role, as if the service had answered it; or
  // not at all, so that the check finds no user.
  enum class Roles { kAsk, kGiven, kNone };
  // Decides command under the loaded policy. ancestors: the command lines
  // of the ancestors for the ancestor check, the parent's first; null: those
  // of this process's ancestors, read from /proc.
  Outcome decide(const std::string& command, const std::string& cookie, Roles roles,
                 const Json::Value& role = Json::Value(),
                 const std::vector<std::string>* ancestors = nullptr);

 private:
  int enable_log_ = 0;
};

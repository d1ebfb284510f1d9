// Deciding commands with the gate's own decision code without running them
// and without writing the gate's log: what "corvexin_policy explain" and
// "corvexin_policy test" share. While a DryRun lives, standard output goes to
// standard error, so that the messages the gate's code prints there (the
// reader's messages, a reply that does not parse) do not mix with the tool's
// report, which is printed after the DryRun has ended.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "decision.h"

class DryRun {
 public:
  DryRun();
  ~DryRun();
  DryRun(const DryRun&) = delete;
  DryRun& operator=(const DryRun&) = delete;

  // How a policy file loads: as the gate loads it, or not at all (the gate
  // refuses every command), or reading "enable_log" ends the gate's run.
  enum class Load { kLoaded, kNotLoaded, kRunEnds };
  // Loads the policy at path into root as the gate would (trusted_only: with
  // its rule on the file's owner and mode); error: why a run ends.
  Load load(const std::string& path, bool trusted_only, std::string* error);
  // The loaded policy's "enable_log", which the dry run switches off.
  int policy_enable_log() const { return enable_log_; }

  // Decides command under the loaded policy; the record is in decision. The
  // dependency's message when a value that the gate cannot convert ends the
  // run (decision.verdict is then -1), empty otherwise.
  std::string decide(const std::string& command, const std::string& cookie);

  // How each role check of the next decisions learns the web user's role:
  // from the web service, as the gate asks it; from role, as if the service
  // had answered it; or not at all, so that the check finds no user.
  enum class Roles { kAsk, kGiven, kNone };
  Roles roles = Roles::kAsk;
  Json::Value role;
  // Command lines of the ancestors for the ancestor check, the parent's
  // first; null: those of this process's ancestors, read from /proc.
  const std::vector<std::string>* ancestors = nullptr;
  // Called for each white-list entry tried, as decision_hooks' entry_tried.
  void (*entry_tried)(const char* text, unsigned index, const std::string& pattern,
                      int result) = nullptr;

  // Of the last decision: a role check of the section had no answer (kNone).
  bool unanswered[2] = {};
  // Of the last role check: whether it was answered, and the service's reply.
  bool answered = false;
  std::string reply;

  // The last decision's verdict: run, refuse, or undecided when it refused
  // but a section that refused had a role check without an answer.
  enum class Verdict { kAllowed, kRefused, kUndecided };
  Verdict verdict() const;
  bool section_undecided(unsigned i) const {
    return decision.sections[i].result != 0 && unanswered[i];
  }
  // How section i of the last decision decided: "allows", "refuses",
  // "undecided" or "run ends" (a value the gate cannot convert).
  const char* section_result(unsigned i) const;

 private:
  static void on_logged(void* context, const char* message, int force);
  static void on_entry_tried(void* context, const char* text, unsigned index,
                             const std::string& pattern, int result);
  static void on_role_lookup(void* context, const char* cookie);
  static const char* on_ancestor(void* context, unsigned generation);

  int saved_stdout_ = -1;
  int enable_log_ = 0;
  bool in_lookup_ = false;
};

#include "dry_run.h"

#include <unistd.h>

#include <cstdio>

#include "config_file.h"
#include "files.h"
#include "log.h"
#include "policy.h"
#include "role_lookup.h"
#include "role_rights.h"
#include "vocabulary.h"

namespace {

// While one lives, standard output goes to standard error: what the gate's
// code prints there (the reader's messages, a reply that does not parse)
// must not mix with the tool's report.
class OutputToErrors {
 public:
  OutputToErrors() {
    (void)fflush(stdout);
    saved_ = dup(1);
    dup2(2, 1);
  }
  ~OutputToErrors() {
    (void)fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, 1);
      close(saved_);
    }
  }
  OutputToErrors(const OutputToErrors&) = delete;
  OutputToErrors& operator=(const OutputToErrors&) = delete;

 private:
  int saved_ = -1;
};

// What the hooks work with while one command is decided.
struct Watch {
  DryRun::Roles roles = DryRun::Roles::kNone;
  const Json::Value* role = nullptr;
  const std::vector<std::string>* ancestors = nullptr;
  Outcome* out = nullptr;
  std::vector<std::string> logged = {};  // the log's lines, kept instead of written
  const char* skipped = nullptr;         // why the last role check had no lookup
  std::string reply = {};                // of the last role lookup
};

void on_entry_tried(void* context, const char* text, unsigned index, const std::string& pattern,
                    int result, const SectionDecision& record) {
  Watch& w = *static_cast<Watch*>(context);
  EntryTried e{section_index(), text, index, pattern, result};
  if (result == 0) {
    e.rule = record.rule;
    e.lookup_made = record.role_lookup && w.roles != DryRun::Roles::kNone && w.skipped == nullptr;
    if (record.role_lookup) e.lookup_skipped = w.skipped;
    e.reply = w.reply;
    e.user = record.user;
    e.role_result = record.role_result;
  }
  w.out->tried.push_back(std::move(e));
}

// Why the gate's role lookup would make no request, saying so on standard
// error: the settings give no service to ask, or the cookie cannot be sent.
// Null when it would make one.
const char* lookup_skipped(const char* cookie) {
  ConfigFile settings(kSettingsPath);
  if (const char* problem = role_settings_problem(settings.getparam(kSettingsSection, kProtocolKey),
                                                  settings.getparam(kSettingsSection, kPortKey))) {
    fprintf(stderr, "corvexin_policy: %s %s; role lookup skipped\n", kSettingsPath, problem);
    return "no settings";
  }
  if (!header_safe(cookie)) {
    fputs("corvexin_policy: the cookie holds a control character; role lookup skipped\n", stderr);
    return "the cookie holds a control character";
  }
  return nullptr;
}

// Replaces the gate's role lookup: the real one, watched; the role given, put
// where a parsed reply would be; or none, which leaves group_role without a
// user, as a lookup that fails would.
void on_role_lookup(void* context, const char* cookie) {
  Watch& w = *static_cast<Watch*>(context);
  w.reply.clear();
  w.skipped = nullptr;
  switch (w.roles) {
    case DryRun::Roles::kNone:
      w.out->unanswered[section_index()] = true;
      break;
    case DryRun::Roles::kGiven:
      group_role = *w.role;
      break;
    case DryRun::Roles::kAsk: {
      // Where the gate would skip the request, it is skipped here too, and
      // told in this program's name.
      if ((w.skipped = lookup_skipped(cookie)) != nullptr) break;
      // The last line logged during a lookup is the service's reply.
      OutputToErrors quiet;
      const size_t before = w.logged.size();
      get_role_right(cookie);
      if (w.logged.size() > before) w.reply = w.logged.back();
      break;
    }
  }
}

const char* on_ancestor(void* context, unsigned generation) {
  const std::vector<std::string>& lines = *static_cast<Watch*>(context)->ancestors;
  return generation < lines.size() ? lines[generation].c_str() : nullptr;
}

}  // namespace

const char* Outcome::section_result(unsigned i) const {
  const int result = record.sections[i].result;
  return result == 0            ? "allows"
         : result < 0           ? "run ends"
         : section_undecided(i) ? "undecided"
                                : "refuses";
}

const char* Outcome::verdict_word() const {
  return verdict == Verdict::kAllowed   ? "allow"
         : verdict == Verdict::kRefused ? "refuse"
                                        : "undecided";
}

DryRun::Load DryRun::load(const std::string& path, bool trusted_only, std::string* error) {
  // A file that cannot be opened, or that the gate would not use, is one
  // error in this program's name; the gate's reader would add a syntax
  // error about the empty text it is then given.
  *error = policy_unread(path, trusted_only);
  if (!error->empty()) {
    fprintf(stderr, "corvexin_policy: %s %s\n", path.c_str(), error->c_str());
    return Load::kNotLoaded;
  }
  OutputToErrors quiet;
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

Outcome DryRun::decide(const std::string& command, const std::string& cookie, Roles roles,
                       const Json::Value& role, const std::vector<std::string>* ancestors) {
  Outcome out;
  Watch watch{roles, &role, ancestors, &out};
  const DecisionHooks hooks = {&watch, on_entry_tried, on_role_lookup,
                               ancestors != nullptr ? on_ancestor : nullptr};
  group_role = Json::Value();  // as at the start of a gate run
  log_capture = &watch.logged;
  try {
    decide_sections(command.c_str(), cookie.c_str(), &hooks);
  } catch (const std::exception& ended) {
    out.error = ended.what();
    // A match whose rule or role check ends the run is in the record alone.
    const SectionDecision& record = section_record();
    bool listed = false;
    for (const EntryTried& t : out.tried)
      listed = listed || (t.result == 0 && t.section == section_index() &&
                          static_cast<int>(t.index) == record.entry);
    if (record.entry >= 0 && !listed) {
      EntryTried e{section_index(), "", static_cast<unsigned>(record.entry), "", 0};
      e.ended_run = true;
      out.tried.push_back(std::move(e));
    }
  }
  log_capture = nullptr;
  out.record = decision;
  if (decision.verdict == 0) {
    out.verdict = Outcome::Verdict::kAllowed;
  } else {
    for (unsigned i = 0; i < decision.count; ++i) {
      if (out.section_undecided(i)) out.verdict = Outcome::Verdict::kUndecided;
    }
  }
  return out;
}

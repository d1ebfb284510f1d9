#include "diff.h"

#include <json/value.h>

#include <iostream>
#include <utility>
#include <vector>

#include "automaton.h"
#include "budget.h"
#include "decision.h"
#include "files.h"
#include "json_document.h"
#include "json_text.h"
#include "policy.h"
#include "report.h"
#include "role_rights.h"
#include "white_list.h"

namespace {

// One way a policy admits command lines: a white-list entry (or a whole
// section of method 0), in the order the gate tries them, and what a match
// still needs.
struct Rule {
  unsigned section = 0;  // index in kSectionNames
  std::string path;      // "$.scripts_section.white_cmd_list[2]", or the section's
  std::string pattern;   // "" matches every command line
  std::string condition;
  bool ancestor = false;  // matched against the ancestors' command lines (method 3)
};

struct Policy {
  std::vector<Rule> rules;
  unsigned method[kSectionCount] = {};
};

std::string condition_of(const Json::Value& entry, int cookie_flag, int type_check) {
  if (match_rule(entry, cookie_flag, type_check) != MatchRule::kRoleCheck) return "no role check";
  std::string levels;
  for (const char* category : kRightCategories) {
    const int level = right_level(entry[kRoleRightMember], category);
    if (level <= 0) continue;
    levels += (levels.empty() ? "" : ", ") + quoted(category) + " >= " + std::to_string(level);
  }
  return levels.empty() ? "role check (no level: the administrator alone)"
                        : "role check (" + levels + ")";
}

// The rules of one section as the gate walks it. A value that ends the run
// admits nothing from there on.
void read_section(const Json::Value& root, unsigned index, Policy* policy) {
  const char* name = kSectionNames[index];
  const Json::Value& s = root.isObject() ? root[name] : Json::Value::nullSingleton();
  if (!s.isNull() && !s.isObject()) return;
  // A missing section is one of method 0.
  SectionNumbers numbers{0, kMethodNone};
  try {
    if (!s.isNull()) numbers = read_section_numbers(s);
  } catch (const Json::Exception&) {
    return;
  }
  policy->method[index] = numbers.method;
  if (numbers.method == kMethodNone) {
    policy->rules.push_back({index, member_path("$", name), "", "check method 0", false});
    return;
  }
  if (!method_reads_white_list(numbers.method)) return;
  const Json::Value& list = s[kWhiteListMember];
  if (!list.isArray()) return;
  for (Json::ArrayIndex i = 0; i < list.size(); ++i) {
    const Json::Value& entry = list[i];
    Rule r{index, entry_path(name, i), "", "", numbers.method == kMethodAncestor};
    try {
      if (!entry.isObject() && !entry.isNull()) return;
      r.pattern = pattern_of(entry);
      const int cookie_flag = cookie_flag_of(entry);
      if (!pattern_error(r.pattern.c_str()).empty()) continue;
      r.condition = condition_of(entry, cookie_flag, numbers.type_check);
    } catch (const Json::Exception&) {
      return;
    }
    policy->rules.push_back(r);
  }
}

// Reads the policy at path; false, with why on standard error, when it
// cannot be read or does not load.
bool load(const std::string& path, Policy* policy) {
  auto fail = [&](const std::string& problem) {
    std::cerr << "corvexin_policy: diff: " << path << ": " << problem << "\n";
    return false;
  };
  const std::string text = read_policy_text(path.c_str());
  if (text.empty()) {
    const std::string problem = policy_unread(path, false);
    return fail(problem.empty() ? "is empty" : problem);
  }
  Json::Value root;
  std::string formatted;
  if (!parse_policy_text(text, root, &formatted, nullptr)) {
    while (!formatted.empty() && formatted.back() == '\n') formatted.pop_back();
    return fail("does not load: " + formatted);
  }
  if (!root.isObject() && !root.isNull()) return true;  // every run ends: admits nothing
  for (unsigned i = 0; i < kSectionCount; ++i) read_section(root, i, policy);
  return true;
}

// The command lines each rule decides: those it matches that no rule before
// it in its section matches. Built when first needed, in the child.
struct Region {
  bool built = false, analysed = false;
  std::string why_not;
  Language matched = Language::none(), decided = Language::none();
  std::string matched_start, matched_end;  // matched's fixed_ends
  std::string start, end;                  // decided's
};

class Comparison {
 public:
  Comparison(const Policy& old_policy, const Policy& new_policy)
      : p_{old_policy, new_policy},
        regions_{std::vector<Region>(old_policy.rules.size()),
                 std::vector<Region>(new_policy.rules.size())} {}

  // Whether rule i of side (0 OLD, 1 NEW) is, with all the rules before it
  // in its section, the same as in the other policy: then nothing it decides
  // has changed.
  bool unchanged(int side, size_t i) const {
    const Rule& r = p_[side].rules[i];
    const Policy& other = p_[1 - side];
    if (p_[0].method[r.section] != p_[1].method[r.section]) return false;
    for (size_t k = 0, j = 0; k < p_[side].rules.size(); ++k) {
      const Rule& a = p_[side].rules[k];
      if (a.section != r.section) continue;
      while (j < other.rules.size() && other.rules[j].section != r.section) ++j;
      if (j == other.rules.size()) return false;
      const Rule& b = other.rules[j++];
      if (a.pattern != b.pattern || a.condition != b.condition || a.path != b.path) return false;
      if (k == i) return true;
    }
    return false;
  }

  // In the child: the changes rule i of side brings, one field list each:
  // kind, scope, example, the other side's path and condition.
  std::string answer(const std::string& request) {
    const int side = request[0] == 'N' ? 1 : 0;
    const size_t i = std::stoul(request.substr(1));
    std::string reply;
    const Region& mine = region(side, i);
    if (!mine.analysed) {
      put_fields(&reply, "not-compared", "", mine.why_not, "", "");
      return reply;
    }
    const Rule& r = p_[side].rules[i];
    // Against the rules of the other side: those of the same section, then
    // all (the policy as a whole, whose sections the gate asks in turn).
    for (int whole = 0; whole < 2; ++whole) {
      Language others = Language::none();
      bool exact = true;
      for (size_t j = 0; j < p_[1 - side].rules.size(); ++j) {
        const Rule& o = p_[1 - side].rules[j];
        if (o.ancestor != r.ancestor || (!whole && o.section != r.section)) continue;
        const Region& theirs = region(1 - side, j);
        if (!theirs.analysed) {
          exact = false;
          continue;
        }
        if (!ends_may_meet(mine.start, mine.end, theirs.start, theirs.end)) continue;
        const Language common = mine.decided.both(theirs.decided);
        if (common.is_empty()) continue;
        others = others.either(theirs.decided);
        // A changed condition on command lines both decide (once, from NEW).
        if (!whole && side == 1 && o.condition != r.condition) {
          std::string example;
          if (common.shortest(&example))
            put_fields(&reply, "condition", "section", example, o.path, o.condition);
        }
      }
      std::string example;
      if (!exact) {
        put_fields(&reply, "not-compared", whole ? "policy" : "section",
                   "it may meet an entry that was not analysed", "", "");
      } else if (mine.decided.without(others).shortest(&example)) {
        put_fields(&reply, side == 1 ? "admitted" : "no-longer-admitted",
                   whole ? "policy" : "section", example, "", "");
      }
    }
    return reply;
  }

 private:
  const Region& region(int side, size_t i) {
    Region& g = regions_[side][i];
    if (g.built) return g;
    g.built = true;
    const Rule& r = p_[side].rules[i];
    const Translation t = translate_pattern(r.pattern);
    if (!t.analysed) {
      g.why_not = "holds " + t.why_not;
      return g;
    }
    g.matched = t.language.minimal();
    g.matched.fixed_ends(&g.matched_start, &g.matched_end);
    Language before = Language::none();
    for (size_t j = 0; j < i; ++j) {
      const Rule& e = p_[side].rules[j];
      if (e.section != r.section) continue;
      const Region& earlier = region(side, j);
      if (!earlier.analysed) {
        g.why_not = "follows " + e.path + ", which was not analysed";
        return g;
      }
      if (ends_may_meet(g.matched_start, g.matched_end, earlier.matched_start, earlier.matched_end))
        before = before.either(earlier.matched);
    }
    g.decided = g.matched.without(before).minimal();
    g.decided.fixed_ends(&g.start, &g.end);
    g.analysed = true;
    return g;
  }

  const Policy p_[2];
  std::vector<Region> regions_[2];
};

struct Change {
  std::string kind, scope, example, path, pattern, condition, was_path, was_condition, why;
};

}  // namespace

int policy_diff(const std::string& old_path, const std::string& new_path, bool json) {
  Policy policies[2];
  if (!load(old_path, &policies[0]) || !load(new_path, &policies[1])) return 2;
  Comparison comparison(policies[0], policies[1]);
  Worker worker([&comparison](const std::string& r) { return comparison.answer(r); });
  std::vector<Change> changes;
  for (int side = 1; side >= 0; --side) {
    for (size_t i = 0; i < policies[side].rules.size(); ++i) {
      if (comparison.unchanged(side, i)) continue;
      const Rule& r = policies[side].rules[i];
      std::string reply, why_not;
      // No reply: one made here says that the rule was not compared, as the child would.
      if (!worker.ask((side == 1 ? "N" : "O") + std::to_string(i), &reply, &why_not))
        put_fields(&reply, "not-compared", "section", "its analysis " + why_not, "", "");
      size_t at = 0;
      for (Change c{"", "", "", r.path, r.pattern, r.condition, "", "", ""};
           take_fields(reply, &at, &c.kind, &c.scope, &c.example, &c.was_path, &c.was_condition);) {
        if (c.kind == "not-compared") c.why = std::exchange(c.example, std::string());
        // An example is one the gate's own matcher admits through the rule.
        if (!c.example.empty() && check_regexp(c.example.c_str(), r.pattern.c_str()) != 0) {
          c.example.clear();
        }
        changes.push_back(c);
      }
    }
  }
  for (unsigned s = 0; s < kSectionCount; ++s) {
    if (policies[0].method[s] == policies[1].method[s]) continue;
    changes.push_back({"method", "section", "", member_path("$", kSectionNames[s]), "",
                       "check method " + std::to_string(policies[1].method[s]), "",
                       "check method " + std::to_string(policies[0].method[s]), ""});
  }
  const int status = changes.empty() ? 0 : 1;
  if (json) {
    Json::Value doc(Json::objectValue);
    doc["format"] = kJsonFormat;
    doc["old"] = old_path;
    doc["new"] = new_path;
    doc["status"] = status;
    doc["changes"] = Json::Value(Json::arrayValue);
    for (const Change& c : changes) {
      Json::Value& v = doc["changes"].append(Json::objectValue);
      v["change"] = c.kind;
      v["scope"] = c.scope;
      v["path"] = c.path;
      if (c.kind != "method") v["pattern"] = c.pattern;
      v["condition"] = c.condition;
      if (!c.example.empty()) v["example"] = c.example;
      if (c.kind == "condition") v["was_path"] = c.was_path;
      if (c.kind == "condition" || c.kind == "method") v["was_condition"] = c.was_condition;
      if (c.kind == "not-compared") v["why"] = c.why;
    }
    print_json(doc);
    return status;
  }
  for (size_t n = 0; n < changes.size(); ++n) {
    const Change& c = changes[n];
    std::string where = c.scope == "policy" ? "the policy as a whole" : "its section";
    std::string no_longer = " no longer admits";
    // The same change for the section and for the whole policy: one line.
    if (c.scope == "section" && n + 1 < changes.size() && changes[n + 1].kind == c.kind &&
        changes[n + 1].path == c.path && changes[n + 1].scope == "policy" &&
        (c.kind == "admitted" || c.kind == "no-longer-admitted")) {
      where = "its section and the policy as a whole";
      no_longer = " no longer admit";
      ++n;
    }
    const std::string example = c.example.empty() ? "" : ", for example " + quoted(c.example);
    const std::string entry = c.path + (c.kind == "method" ? "" : " " + quoted(c.pattern));
    if (c.kind == "admitted") {
      std::cout << "+ " << entry << " (" << c.condition << ") admits what " << where
                << " did not admit" << example << "\n";
    } else if (c.kind == "no-longer-admitted") {
      std::cout << "- " << entry << " (" << c.condition << ") admitted what " << where << no_longer
                << example << "\n";
    } else if (c.kind == "condition") {
      std::cout << "~ " << entry << " admits with " << c.condition << " what " << c.was_path
                << " admitted with " << c.was_condition << example << "\n";
    } else if (c.kind == "method") {
      std::cout << "~ " << entry << ": " << c.condition << ", was " << c.was_condition << "\n";
    } else {
      std::cout << "? " << entry << " was not compared: " << c.why << "\n";
    }
  }
  std::cout << old_path << " -> " << new_path << ": "
            << (changes.empty() ? "the same command lines admitted, with the same conditions"
                                : counted(changes.size(), "change"))
            << "\n";
  return status;
}

#include "machine.h"

#include <grp.h>
#include <pwd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <set>
#include <sstream>

#include "files.h"
#include "pattern_syntax.h"
#include "pattern_tree.h"
#include "vocabulary.h"
#include "white_list.h"

namespace {

// The words of one run of literal text between variable parts. left: the run
// starts the command line (after "^"), or what precedes it is no part of a
// word; right: likewise at its end ("$"). program: the run's first word is
// the command's.
void words_of(const std::string& run, bool left, bool right, bool program,
              std::vector<std::string>& named) {
  // dash's builtins: the shell runs them itself and looks none of them up.
  static const std::set<std::string> kBuiltins = {
      ".",        ":",        "[",      "alias", "bg",      "break",  "cd",     "command",
      "continue", "echo",     "eval",   "exec",  "exit",    "export", "false",  "fc",
      "fg",       "getopts",  "hash",   "jobs",  "kill",    "local",  "printf", "pwd",
      "read",     "readonly", "return", "set",   "shift",   "test",   "times",  "trap",
      "true",     "type",     "ulimit", "umask", "unalias", "unset",  "wait"};
  bool first = true;
  size_t end = 0;
  for (size_t start = run.find_first_not_of(" \t"); start != std::string::npos;
       start = run.find_first_not_of(" \t", end)) {
    end = std::min(run.find_first_of(" \t", start), run.size());
    const bool whole_left = start > 0 || left, whole_right = end < run.size() || right;
    std::string word = run.substr(start, end - start);
    const bool is_program = program && first && whole_left;
    first = false;
    if (!whole_left) continue;
    const size_t assigned = word.find("=/");
    if (!is_program && word[0] == '-' && assigned != std::string::npos) {
      word = word.substr(assigned + 1);
    }
    if (word[0] != '/') {
      // A program without a directory is looked up; one with a relative
      // directory depends on where the command starts, and is left alone.
      if (is_program && whole_right && word.find('/') == std::string::npos &&
          kBuiltins.count(word) == 0) {
        named.push_back(word);
      }
      continue;
    }
    // A variable part completes the word: the directory it names is fixed.
    named.push_back(whole_right ? word : parent_of(word));
  }
}

// The status of a file or directory (links followed), asked once per run of
// the tool; false when there is none.
bool status_of(const std::string& path, struct stat* st = nullptr) {
  static std::map<std::string, std::pair<bool, struct stat>> cache;
  const auto [found, added] = cache.try_emplace(path);
  if (added) found->second.first = stat(path.c_str(), &found->second.second) == 0;
  if (st != nullptr) *st = found->second.second;
  return found->second.first;
}

// Judges path (which exists) and every directory above it, along the path
// as given and with its links resolved: each (path, who) that an account
// other than root can change, and that seen does not hold yet. A sticky
// directory is passed over when what lies below it on the path exists and
// is root's: others may add names there, not replace root's.
std::vector<std::pair<std::string, std::string>> judge_chain(const std::string& path,
                                                             std::set<std::string>& seen) {
  std::vector<std::pair<std::string, std::string>> found;
  std::vector<std::string> chains = {path};
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr && path != resolved)
    chains.emplace_back(resolved);
  for (const std::string& chain : chains) {
    bool below_is_roots = false;
    for (std::string at = chain;; at = parent_of(at)) {
      struct stat st {};
      if (status_of(at, &st)) {
        const bool sticky_safe = (st.st_mode & S_ISVTX) && S_ISDIR(st.st_mode) && below_is_roots;
        const std::string who = writers_other_than_root(st);
        if (!who.empty() && !sticky_safe && seen.insert(at).second) found.emplace_back(at, who);
        below_is_roots = st.st_uid == 0;
      }
      if (at == "/") break;
    }
  }
  return found;
}

// The existing part of path: path itself, or the nearest directory above it.
std::string nearest_existing(std::string path) {
  while (path != "/" && !status_of(path)) path = parent_of(path);
  return path;
}

// The shortest text that the node list from n matches, each set spelt by
// the first byte it holds of a readable choice, each group by its shortest
// alternative; false for what cannot be spelt so (a back-reference).
bool spell(const pattern::Syntax& syntax, unsigned n, std::string& out) {
  static const std::string kPreferred =
      "abcdefghijklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_./-";
  for (; n != 0; n = syntax.nodes[n].next) {
    const pattern::Node& node = syntax.nodes[n];
    std::string one;
    if (node.kind == pattern::NodeKind::kString) {
      one.assign(reinterpret_cast<const char*>(syntax.literals) + node.first, node.length);
    } else if (node.kind == pattern::NodeKind::kSet) {
      uint32_t set[8] = {};
      pattern::set_of(syntax, node, set);
      for (const char c : kPreferred) {
        if (one.empty() && pattern::in_set(set, static_cast<unsigned char>(c))) one = c;
      }
      for (unsigned c = 1; c < 256 && one.empty(); ++c) {
        if (pattern::in_set(set, static_cast<unsigned char>(c))) one = static_cast<char>(c);
      }
      if (one.empty() && node.min > 0) return false;
    } else if (node.kind == pattern::NodeKind::kGroup) {
      bool spelt = false;
      for (unsigned alt = node.first; alt != 0; alt = syntax.nodes[alt].next) {
        std::string text;
        if (spell(syntax, syntax.nodes[alt].first, text) && (!spelt || text.size() < one.size())) {
          one = text;
          spelt = true;
        }
      }
      if (!spelt) return false;
    } else if (node.kind != pattern::NodeKind::kBegin && node.kind != pattern::NodeKind::kEnd) {
      return false;
    }
    for (unsigned i = 0; i < node.min; ++i) out += one;
  }
  return true;
}

// A path that a pattern spells out in its fixed text: a whole word that
// begins with "/" (or follows "=" in an option), the directory part of such
// a word that a variable part completes, or, for a branch anchored at its
// start, the program (with or without a directory). Read from the pattern's
// parse tree; none when the parse tree cannot be had.
struct NamedPath {
  std::string path;     // absolute, or a program's name to look up in the gate's PATH
  std::string example;  // a command line of its branch that the gate allows, or empty
};
std::vector<NamedPath> named_paths(const std::string& pattern) {
  std::vector<NamedPath> named;
  const PatternTree tree(pattern);
  if (!tree.read()) return named;
  const pattern::Syntax& syntax = tree.syntax();
  // Each top-level branch: its runs of literal bytes, each ended by a
  // variable part (a set, a repetition, a group) or an anchor.
  for (unsigned alt = syntax.nodes[0].first; alt != 0; alt = syntax.nodes[alt].next) {
    std::vector<std::string> words;
    std::string run;
    bool left = false, program = false, first = true;
    for (unsigned n = syntax.nodes[alt].first; n != 0; n = syntax.nodes[n].next) {
      const pattern::Node& node = syntax.nodes[n];
      if (node.kind == pattern::NodeKind::kBegin && first) {
        left = program = true;
      } else if (node.kind == pattern::NodeKind::kString && node.min == 1 && node.max == 1) {
        run.append(reinterpret_cast<const char*>(syntax.literals) + node.first, node.length);
      } else {
        words_of(run, left, node.kind == pattern::NodeKind::kEnd, program, words);
        run.clear();
        left = program = false;
      }
      first = false;
    }
    words_of(run, left, false, program, words);
    if (words.empty()) continue;
    // The branch's shortest command line, as the gate's matcher takes it.
    std::string example;
    if (!spell(syntax, syntax.nodes[alt].first, example) ||
        check_regexp(example.c_str(), pattern.c_str()) != 0) {
      example.clear();
    }
    for (std::string& word : words) named.push_back({std::move(word), example});
  }
  return named;
}

}  // namespace

std::string writers_other_than_root(const struct stat& st) {
  std::string who;
  if (st.st_uid != 0) {
    const passwd* pw = getpwuid(st.st_uid);
    who = "the account " +
          (pw != nullptr ? std::string(pw->pw_name) : "with uid " + std::to_string(st.st_uid)) +
          ", its owner";
  }
  const bool link = S_ISLNK(st.st_mode);
  if (!link && (st.st_mode & S_IWGRP)) {
    const group* gr = getgrgid(st.st_gid);
    who += std::string(who.empty() ? "" : ", and ") + "the group " +
           (gr != nullptr ? std::string(gr->gr_name) : "with gid " + std::to_string(st.st_gid));
  }
  if (!link && (st.st_mode & S_IWOTH)) who = "every account";
  return who;
}

std::vector<MachineFinding> machine_findings(const std::string& pattern) {
  std::vector<MachineFinding> findings;
  std::set<std::string> seen;
  // The changeable paths above path, for named described as what.
  auto judge = [&](const NamedPath& named, const std::string& what, const std::string& path) {
    for (const auto& [at, who] : judge_chain(path, seen)) {
      findings.push_back({"writable-path",
                          "names " + what + ": \"" + at + "\" can be changed by " + who +
                              ", who can thus choose the program or file that the command "
                              "runs, reads or writes as root",
                          named.example});
    }
  };
  for (const NamedPath& named : named_paths(pattern)) {
    if (named.path[0] == '/') {
      const std::string existing = nearest_existing(named.path);
      judge(named,
            "\"" + named.path + "\"" +
                (existing == named.path ? "" : " (missing: judged by \"" + existing + "\")"),
            existing);
      continue;
    }
    // A program without a directory: the first of its name in the PATH.
    std::istringstream dirs(kRootPath);
    for (std::string dir; std::getline(dirs, dir, ':');) {
      const std::string candidate = dir + "/" + named.path;
      const bool holds = status_of(candidate);
      judge(named,
            "\"" + named.path + "\", looked up in the PATH " + kRootPath +
                (holds ? ", found as \"" + candidate + "\""
                       : ", where \"" + candidate + "\" would be found first"),
            holds ? candidate : nearest_existing(dir));
      if (holds) break;
    }
  }
  return findings;
}

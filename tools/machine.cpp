#include "machine.h"

#include <grp.h>
#include <pwd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <map>
#include <set>
#include <stdexcept>

#include "automaton.h"
#include "pattern_syntax.h"
#include "policy.h"
#include "white_list.h"

namespace {

bool blank(char c) {
  return c == ' ' || c == '\t';
}

// The directory that holds path ("/" for a name right under the root).
std::string parent_of(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

// The words of one run of literal text between variable parts. left: the run
// starts the command line (after "^"), or what precedes it is no part of a
// word; right: likewise at its end ("$"). program: the run's first word is
// the command's.
void words_of(const std::string& run, bool left, bool right, bool program, NamedPaths& named) {
  // dash's builtins: the shell runs them itself and looks none of them up.
  static const std::set<std::string> kBuiltins = {
      ".",        ":",        "[",      "alias", "bg",      "break",  "cd",     "command",
      "continue", "echo",     "eval",   "exec",  "exit",    "export", "false",  "fc",
      "fg",       "getopts",  "hash",   "jobs",  "kill",    "local",  "printf", "pwd",
      "read",     "readonly", "return", "set",   "shift",   "test",   "times",  "trap",
      "true",     "type",     "ulimit", "umask", "unalias", "unset",  "wait"};
  bool first = true;
  for (size_t start = 0; start < run.size();) {
    if (blank(run[start])) {
      ++start;
      continue;
    }
    size_t end = start;
    while (end < run.size() && !blank(run[end])) ++end;
    const bool whole_left = start > 0 || left, whole_right = end < run.size() || right;
    std::string word = run.substr(start, end - start);
    const bool is_program = program && first && whole_left;
    first = false;
    start = end;
    if (!whole_left) continue;
    const size_t assigned = word.find("=/");
    if (!is_program && word[0] != '/' && assigned != std::string::npos && word[0] == '-') {
      word = word.substr(assigned + 1);
    }
    if (word[0] != '/') {
      if (is_program && whole_right && kBuiltins.count(word) == 0) named.programs.push_back(word);
      continue;
    }
    // A variable part completes the word: the directory it names is fixed.
    named.paths.push_back(whole_right ? word : parent_of(word));
  }
}

// The judgement of one file or directory, once per run of the tool.
std::string judged(const std::string& path, struct stat* st) {
  static std::map<std::string, std::pair<bool, struct stat>> cache;
  auto found = cache.find(path);
  if (found == cache.end()) {
    struct stat s {};
    const bool exists = stat(path.c_str(), &s) == 0;
    found = cache.emplace(path, std::make_pair(exists, s)).first;
  }
  if (!found->second.first) return "missing";
  *st = found->second.second;
  return "";
}

bool exists(const std::string& path) {
  struct stat st {};
  return judged(path, &st).empty();
}

// Judges path (which exists) and every directory above it, along the path
// as given and with its links resolved; adds "PATH: WHO" for each that an
// account other than root can change. A sticky directory is passed over
// when what lies below it on the path exists and is root's: others may add
// names there, not replace root's.
void judge_chain(const std::string& path, std::vector<std::pair<std::string, std::string>>& found,
                 std::set<std::string>& seen) {
  std::vector<std::string> chains = {path};
  char resolved[PATH_MAX];
  if (realpath(path.c_str(), resolved) != nullptr && path != resolved)
    chains.emplace_back(resolved);
  for (const std::string& chain : chains) {
    bool below_is_roots = false;
    for (std::string at = chain;; at = parent_of(at)) {
      struct stat st {};
      if (judged(at, &st).empty()) {
        const bool sticky_safe = (st.st_mode & S_ISVTX) && S_ISDIR(st.st_mode) && below_is_roots;
        const std::string who = writers_other_than_root(st);
        if (!who.empty() && !sticky_safe && seen.insert(at).second) found.emplace_back(at, who);
        below_is_roots = st.st_uid == 0;
      }
      if (at == "/") break;
    }
  }
}

// The existing part of path: path itself, or the nearest directory above it.
std::string nearest_existing(std::string path) {
  while (path != "/" && !exists(path)) path = parent_of(path);
  return path;
}

// A command line that the gate allows under pattern and that holds needle:
// the shortest, checked with the gate's matcher; empty when none is found.
std::string example_with(const std::string& pattern, const std::string& needle) {
  try {
    const Translation t = translate_pattern(pattern);
    if (!t.analysed) return "";
    const Language any = Language::anything();
    std::string word;
    if (!t.language.both(any.then(Language::text(needle)).then(any)).shortest(&word)) return "";
    return check_regexp(word.c_str(), pattern.c_str()) == 0 ? word : "";
  } catch (const std::runtime_error&) {
    return "";
  }
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

NamedPaths named_paths(const std::string& pattern) {
  NamedPaths named;
  static pattern::Syntax syntax;  // large: kept out of the stack
  if (!pattern::parse(pattern.c_str(), syntax)) return named;
  // Each top-level branch: its runs of literal bytes, each ended by a
  // variable part (a set, a repetition, a group) or an anchor.
  for (unsigned alt = syntax.nodes[0].first; alt != 0; alt = syntax.nodes[alt].next) {
    std::string run;
    bool left = false, program = false, first = true;
    for (unsigned n = syntax.nodes[alt].first; n != 0; n = syntax.nodes[n].next) {
      const pattern::Node& node = syntax.nodes[n];
      if (node.kind == pattern::NodeKind::kBegin && first) {
        left = program = true;
      } else if (node.kind == pattern::NodeKind::kString && node.min == 1 && node.max == 1) {
        run.append(reinterpret_cast<const char*>(syntax.literals) + node.first, node.length);
      } else {
        const bool end = node.kind == pattern::NodeKind::kEnd;
        words_of(run, left, end, program, named);
        run.clear();
        left = program = false;
      }
      first = false;
    }
    words_of(run, left, false, program, named);
  }
  return named;
}

std::vector<MachineFinding> machine_findings(const std::string& pattern) {
  const NamedPaths named = named_paths(pattern);
  std::vector<MachineFinding> findings;
  std::set<std::string> seen;
  auto add = [&](const std::string& needle, const std::string& at, const std::string& who,
                 const std::string& what) {
    findings.push_back({"writable-path",
                        "names " + what + ": \"" + at + "\" can be changed by " + who +
                            ", who can thus choose the program or file that the command runs, "
                            "reads or writes as root",
                        example_with(pattern, needle)});
  };
  for (const std::string& path : named.paths) {
    std::vector<std::pair<std::string, std::string>> found;
    const std::string existing = nearest_existing(path);
    judge_chain(existing, found, seen);
    for (const auto& [at, who] : found) {
      add(path, at, who,
          "\"" + path + "\"" +
              (existing == path ? "" : " (missing: judged by \"" + existing + "\")"));
    }
  }
  for (const std::string& program : named.programs) {
    std::string dirs = kRootPath;
    for (size_t start = 0; start <= dirs.size();) {
      const size_t colon = std::min(dirs.find(':', start), dirs.size());
      const std::string dir = dirs.substr(start, colon - start);
      start = colon + 1;
      if (dir.empty() || dir[0] != '/') continue;
      const std::string candidate = dir + "/" + program;
      const bool holds = exists(candidate);
      std::vector<std::pair<std::string, std::string>> found;
      judge_chain(holds ? candidate : nearest_existing(dir), found, seen);
      for (const auto& [at, who] : found) {
        add(program, at, who,
            "\"" + program + "\" looked up in the PATH " + kRootPath +
                (holds ? ", found as \"" + candidate + "\""
                       : " (\"" + candidate + "\" would be found first)"));
      }
      if (holds) break;
    }
  }
  return findings;
}

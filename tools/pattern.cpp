#include "pattern.h"

#include "pattern_match.h"
#include "pattern_syntax.h"
#include "pattern_tree.h"
#include "shell.h"
#include "white_list.h"

PatternShape pattern_shape(const std::string& pattern) {
  PatternShape shape;
  const PatternTree tree(pattern);
  if (!tree.read()) return shape;
  const pattern::Syntax& s = tree.syntax();
  // Top-level alternatives: each must be anchored for the whole to be.
  shape.anchored_start = shape.anchored_end = true;
  for (uint32_t alt = s.nodes[0].first; alt != 0; alt = s.nodes[alt].next) {
    uint32_t last = s.nodes[alt].first;
    if (last == 0 || s.nodes[last].kind != pattern::NodeKind::kBegin) shape.anchored_start = false;
    while (last != 0 && s.nodes[last].next != 0) last = s.nodes[last].next;
    if (last == 0 || s.nodes[last].kind != pattern::NodeKind::kEnd) shape.anchored_end = false;
  }
  // The variable parts (".", a bracket expression, "\w" "\W" "\s" "\S"),
  // in the order of the pattern.
  for (unsigned i = 0; i < s.node_count; ++i) {
    const pattern::Node& n = s.nodes[i];
    if (n.kind != pattern::NodeKind::kSet) continue;
    uint32_t set[8];
    pattern::set_of(s, n, set);
    for (const char* m = kShellMetachars; *m != '\0'; ++m) {
      if (!pattern::in_set(set, static_cast<unsigned char>(*m)) ||
          shape.metachars.find(*m) != std::string::npos)
        continue;
      if (shape.admitted_by.empty()) shape.admitted_by = pattern.substr(n.first, n.length);
      shape.metachars += *m;
    }
  }
  return shape;
}

bool matches_everything(const std::string& pattern) {
  for (const char* probe :
       {"", "a", "a b", ";", "\n", "ls -l /tmp; rm -rf /", " x\x01\x7f\xff", "__", "(]"}) {
    if (check_regexp(probe, pattern.c_str()) != 0) return false;
  }
  return true;
}

std::string literal_pattern(const std::string& text) {
  std::string pattern = "^";
  for (char c : text) {
    if (special_in_pattern(c)) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

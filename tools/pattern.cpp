#include "pattern.h"

#include "pattern_match.h"
#include "pattern_syntax.h"
#include "pattern_tree.h"
#include "shell.h"
#include "white_list.h"

namespace {

// Whether the gate's matcher finds the pattern in the text.
bool matches(const std::string& pattern, const std::string& text) {
  return check_regexp(text.c_str(), pattern.c_str()) == 0;
}

}  // namespace

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
    std::string bytes;
    for (unsigned c = 1; c < 256; ++c)
      if (pattern::in_set(set, static_cast<unsigned char>(c))) bytes += static_cast<char>(c);
    for (char m : shell_metachars_in(bytes)) {
      if (shape.metachars.find(m) != std::string::npos) continue;
      if (shape.admitted_by.empty()) shape.admitted_by = pattern.substr(n.first, n.length);
      shape.metachars += m;
    }
  }
  return shape;
}

bool matches_everything(const std::string& pattern) {
  for (const char* probe :
       {"", "a", "a b", ";", "\n", "ls -l /tmp; rm -rf /", " x\x01\x7f\xff", "__", "(]"}) {
    if (!matches(pattern, probe)) return false;
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

// The one reader of white-list patterns. The input is
//   PATTERN \0 TEXT
// (the text ends at its first NUL, as the gate receives it). The gate's
// matcher must answer exactly as regcomp and regexec, and only for patterns
// regcomp compiles; the tool's reading must read every pattern regcomp
// compiles; and the tool's exact model must hold the text exactly when the
// gate's matcher finds the pattern in it, and hold only examples the gate
// finds it in. The model is compared for patterns of up to 48 positions,
// repetitions expanded (each copy is a part of the automaton); it is only
// walked, never made deterministic, which can take exponential time.
#include <regex.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "automaton.h"
#include "fuzz_support.h"
#include "pattern_match.h"
#include "pattern_syntax.h"
#include "pattern_tree.h"
#include "white_list.h"

namespace {

using pattern::Node;
using pattern::NodeKind;

constexpr uint64_t kMaxPositions = 48;

// A node's count, each repetition written out (an unbounded one as one copy
// more than its minimum, and as at least `least` copies), from count(node,
// whether a repetition holds it) of each node in it; counted to a little past
// cap.
template <typename Count>
uint64_t expanded(const pattern::Syntax& s, const Node& n, const Count& count, uint64_t cap,
                  uint64_t least = 1, bool looped = false) {
  const bool repeated = (n.flags & pattern::kRepeated) != 0;
  uint64_t one = count(n, looped || repeated);
  if (n.kind == NodeKind::kGroup) {
    for (uint32_t alt = n.first; alt != 0; alt = s.nodes[alt].next) {
      for (uint32_t i = s.nodes[alt].first; i != 0 && one <= cap; i = s.nodes[i].next)
        one += expanded(s, s.nodes[i], count, cap, least, looped || repeated);
    }
  }
  uint64_t copies = n.max == pattern::kUnbounded ? n.min + 1u : n.max;
  if (repeated) copies = std::max(copies, least);
  return std::min(one * copies, cap + 1);
}

// The bytes a match may take at most.
uint64_t positions(const Node& n, bool /*looped*/) {
  return n.kind == NodeKind::kString ? n.length : n.kind == NodeKind::kSet ? 1 : 0;
}
// What glibc's regcomp builds: its size grows with the square of an
// interval's copies ("x\{,4000\}" takes 128 MB); with anchors under a
// repetition it grows exponentially in size and time ("\(^\)\{,2000\}" takes
// 24 GB, "\(\b\|^\|$\|\B\)*" and "\(\b\)*\?\+" four times over minutes).
uint64_t regcomp_parts(const Node& n, bool looped) {
  return std::max(positions(n, looped), uint64_t{1});
}
uint64_t looped_anchors(const Node& n, bool looped) {
  return looped && (n.kind == NodeKind::kBegin || n.kind == NodeKind::kEnd ||
                    n.kind == NodeKind::kWordAnchor);
}

// regexec's answer: 0 match, 1 no match, 2 the pattern does not compile.
int engine(const std::string& pattern, const std::string& text) {
  regex_t re;
  if (regcomp(&re, pattern.c_str(), 0) != 0) return 2;
  const int rc = regexec(&re, text.c_str(), 0, nullptr, 0);
  regfree(&re);
  return rc == 0 ? 0 : 1;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parts = split_input(data, size, 2);
  const std::string pattern(parts[0]);
  const std::string text =
      parts.size() > 1 ? std::string(parts[1].substr(0, parts[1].find('\0'))) : std::string();
  // Not tried: patterns whose compiling alone would pass the run's memory
  // limit, and back-references in texts of more than 16 bytes: glibc's time
  // to match them grows steeply with the text ("\(a*\)\(a*\)\1\2\1\2b" takes
  // 0.8 s on 48 bytes, minutes on 200). Both are beyond the gate's own matcher.
  const PatternTree tree(pattern);
  if (tree.read()) {
    const pattern::Syntax& s = tree.syntax();
    if (expanded(s, s.nodes[0], regcomp_parts, 512) > 512 ||
        expanded(s, s.nodes[0], looped_anchors, 4, 2) > 4)
      return 0;
    for (size_t i = 0; i < s.node_count && text.size() > 16; ++i)
      if (s.nodes[i].kind == NodeKind::kBackReference) return 0;
  }
  const int expected = engine(pattern, text);
  const int quick = match_without_regex(text.c_str(), pattern.c_str());
  if (quick != kNeedsRegex && quick != expected) abort();
  if (check_regexp(text.c_str(), pattern.c_str()) != expected) abort();
  if (expected == 2) return 0;

  if (!tree.read()) {
    // Only glibc's own limits (deeper nesting than the tool reads) may stop
    // the tool's reading of a pattern that compiles.
    if (tree.why_not().find("limits") == std::string::npos) abort();
    return 0;
  }
  if (pattern.size() > 64 || text.size() > 64 ||
      expanded(tree.syntax(), tree.syntax().nodes[0], positions, kMaxPositions) > kMaxPositions)
    return 0;
  const Translation model = translate_pattern(pattern);
  if (!model.analysed) return 0;
  // Whether the model holds the text: their meeting is not empty.
  std::string example;
  if (Language::text(text).both(model.language).shortest(&example) != (expected == 0)) abort();
  if (model.language.shortest(&example) && engine(pattern, example) != 0) abort();
  return 0;
}

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

// The bytes a match of the sequence from node i may take at most, each
// repetition expanded (an unbounded one as one copy more than its minimum).
uint64_t positions(const pattern::Syntax& s, uint32_t i);

uint64_t positions_of(const pattern::Syntax& s, const Node& n) {
  uint64_t one = n.kind == NodeKind::kString ? n.length : n.kind == NodeKind::kSet ? 1 : 0;
  if (n.kind == NodeKind::kGroup)
    for (uint32_t alt = n.first; alt != 0; alt = s.nodes[alt].next)
      one += positions(s, s.nodes[alt].first);
  const uint64_t copies = n.max == pattern::kUnbounded ? n.min + 1u : n.max;
  const uint64_t all = one * copies;
  return all < kMaxPositions * 1000 ? all : kMaxPositions * 1000;
}

uint64_t positions(const pattern::Syntax& s, uint32_t i) {
  uint64_t sum = 0;
  for (; i != 0 && sum <= kMaxPositions; i = s.nodes[i].next) sum += positions_of(s, s.nodes[i]);
  return sum;
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
  const int expected = engine(pattern, text);
  const int quick = match_without_regex(text.c_str(), pattern.c_str());
  if (quick != kNeedsRegex && quick != expected) abort();
  if (check_regexp(text.c_str(), pattern.c_str()) != expected) abort();
  if (expected == 2) return 0;

  const PatternTree tree(pattern);
  if (!tree.read()) {
    // Only glibc's own limits (deeper nesting than the tool reads) may stop
    // the tool's reading of a pattern that compiles.
    if (tree.why_not().find("limits") == std::string::npos) abort();
    return 0;
  }
  if (pattern.size() > 64 || text.size() > 64 ||
      positions_of(tree.syntax(), tree.syntax().nodes[0]) > kMaxPositions)
    return 0;
  const Translation model = translate_pattern(pattern);
  if (!model.analysed) return 0;
  // Whether the model holds the text: their meeting is not empty.
  std::string example;
  if (Language::text(text).both(model.language).shortest(&example) != (expected == 0)) abort();
  if (model.language.shortest(&example) && engine(pattern, example) != 0) abort();
  return 0;
}

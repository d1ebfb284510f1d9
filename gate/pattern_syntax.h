// The recogniser behind pattern_match.cpp: reads a pattern the way glibc's
// regcomp reads POSIX basic syntax (no flags, C locale) and accepts only
// patterns that it knows regcomp compiles; everything else is refused, and
// left to regcomp. What it accepts is kept as a small tree for the matcher,
// with the literal text every match of each top-level branch holds.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pattern {

constexpr uint16_t kUnbounded = 0xffff;
constexpr size_t kMaxNodes = 256;
constexpr size_t kMaxBranches = 32;
constexpr size_t kMaxLength = 1024;  // literal bytes of a pattern; more are left to regcomp

enum class NodeKind : uint8_t {
  kString,   // literal bytes
  kSet,      // one byte of a set (SetKind)
  kAnyText,  // a back-reference, read as any text (so "no" is exact, "yes" is not)
  kGroup,    // "\(...\)" or a repetition of a repetition; alternatives in first
  kAlt,      // one alternative of a group: its sequence in first
  kBegin,    // "^" as an anchor
  kEnd,      // "$" as an anchor
};

enum class SetKind : uint8_t { kAny, kBracket, kWord, kNotWord, kSpace, kNotSpace };

// Nodes form lists through next (0 ends a list; node 0 is the top-level
// group). A node is repeated min to max times (1 and 1 when not repeated).
struct Node {
  NodeKind kind;
  uint8_t value;  // kSet: its SetKind; kGroup: 1 when it holds an anchor
  uint16_t min, max;
  // kGroup: its first kAlt; kAlt: the first node of its sequence; kString:
  // the offset of its bytes in Syntax::literals; a bracket expression: the
  // offset in the pattern of what follows its "[".
  uint16_t first;
  uint16_t length;  // kString: its bytes
  uint16_t next;
};

// Literal bytes [offset, offset + length) of Syntax::literals.
struct Literal {
  uint16_t offset, length;
};

// What every match of one top-level branch holds: its literal start (when
// the branch starts with "^"), its literal end (when it ends with "$") and
// its longest literal run. A branch that is only literal bytes between
// optional anchors (pure) is decided by its literal alone (whole).
struct Branch {
  Literal prefix, suffix, longest, whole;
  bool at_start, at_end, pure;
};

struct Syntax {
  const char* pattern;
  Node nodes[kMaxNodes];
  unsigned node_count;
  Branch branches[kMaxBranches];
  unsigned branch_count;
  unsigned char literals[kMaxLength];
  unsigned literal_count;
  bool back_reference;  // some node is a back-reference
  bool inner_anchor;    // "^" or "$" inside a group
};

// True when regcomp(pattern, 0) certainly succeeds in the C locale and the
// pattern is in the recognised subset; syntax then describes it. False for
// every pattern that does not compile, and for any the recogniser is not
// sure of.
bool parse(const char* pattern, Syntax& syntax);

// The 256 bits of a kSet node's bytes.
void set_of(const Syntax& syntax, const Node& node, uint32_t* set);

inline bool in_set(const uint32_t* set, unsigned char c) {
  return ((set[c >> 5] >> (c & 31)) & 1) != 0;
}

}  // namespace pattern

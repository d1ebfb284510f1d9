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
constexpr size_t kMaxSets = 32;
constexpr size_t kMaxBranches = 32;
constexpr size_t kMaxLength = 1024;  // longer patterns are left to regcomp

enum class NodeKind : uint8_t {
  kByte,     // one byte
  kSet,      // one byte of a set: ".", a bracket expression, "\w" "\W" "\s" "\S"
  kAnyText,  // a back-reference, read as any text (so "no" is exact, "yes" is not)
  kGroup,    // "\(...\)" or a repetition of a repetition; alternatives in first
  kAlt,      // one alternative of a group: its sequence in first
  kBegin,    // "^" as an anchor
  kEnd,      // "$" as an anchor
};

// Nodes form lists through next (0 ends a list; node 0 is the top-level
// group). A node is repeated min to max times (1 and 1 when not repeated).
struct Node {
  NodeKind kind;
  uint8_t value;  // kByte: the byte; kSet: the set's index
  uint16_t min, max;
  uint16_t first;  // kGroup: its first kAlt; kAlt: the first node of its sequence
  uint16_t next;
};

// Literal bytes [offset, offset + length) of Syntax::literals.
struct Literal {
  uint16_t offset, length;
};

// What every match of one top-level branch holds: its literal start (when
// the branch starts with "^"), its literal end (when it ends with "$") and
// its longest literal run. A branch that is only literal bytes between
// optional anchors (pure) is decided by its literal alone (in whole).
struct Branch {
  Literal prefix, suffix, longest, whole;
  bool at_start, at_end, pure;
};

struct Syntax {
  Node nodes[kMaxNodes];
  unsigned node_count;
  uint32_t sets[kMaxSets][8];  // 256 bits each; set 0 is every byte (".")
  unsigned set_count;
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

inline bool in_set(const uint32_t* set, unsigned char c) {
  return ((set[c >> 5] >> (c & 31)) & 1) != 0;
}

}  // namespace pattern

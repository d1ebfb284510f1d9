// The one reader of white-list patterns, for the gate's matcher
// (pattern_match.cpp) and the policy tool's exact model: it reads a pattern
// the way glibc's regcomp reads POSIX basic syntax (no flags, C locale) into
// a small tree, with the literal text every match of each top-level branch
// holds. Constructs that the gate's matcher leaves to regcomp (buffer and
// word anchors, ranges over bytes above 0x7f, collating ends of a range,
// repetitions glibc reads in ways of its own) are read too, and flagged:
// the gate then asks regcomp, the tool models them.
//
// The space for the tree and the limits on its size are the caller's: the
// gate reads into fixed arrays (GateSyntax) under tight limits and never
// allocates; the tool gives storage that grows with the pattern.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pattern {

constexpr uint16_t kUnbounded = 0xffff;

enum class NodeKind : uint8_t {
  kString,         // literal bytes
  kSet,            // one byte of a set (SetKind)
  kBackReference,  // "\1" to "\9" (value: the digit); the gate reads it as any text
  kGroup,          // "\(...\)" or a repetition of a repetition; alternatives in first
  kAlt,            // one alternative of a group: its sequence in first
  kBegin,          // "^" as an anchor (value 0), or "\`" (value 1)
  kEnd,            // "$" as an anchor (value 0), or "\'" (value 1)
  kWordAnchor,     // "\b", "\B", "\<" or "\>" (value: the letter)
};

enum class SetKind : uint8_t { kAny, kBracket, kWord, kNotWord, kSpace, kNotSpace };

// Node::flags.
constexpr uint8_t kLeftToRegcomp = 1;  // the gate's matcher does not decide this node
constexpr uint8_t kRepeated = 2;       // written with a repetition ("\{1\}" included)

// Nodes form lists through next (0 ends a list; node 0 is the top-level
// group). A node is repeated min to max times (1 and 1 when not repeated).
struct Node {
  NodeKind kind;
  uint8_t value;  // see NodeKind; kSet: its SetKind; kGroup: 1 when it holds a "^" or "$"
  uint8_t flags;
  uint16_t min, max;
  // kGroup: its first kAlt; kAlt: the first node of its sequence; kString:
  // the offset of its bytes in Syntax::literals; kSet: the offset of its
  // text in the pattern ("." "[...]" "\w" ...).
  uint32_t first;
  uint32_t length;  // kString: its bytes; kSet: its text's
  uint32_t next;
};

// Literal bytes [offset, offset + length) of Syntax::literals.
struct Literal {
  uint32_t offset, length;
};

// What every match of one top-level branch holds: its literal start (when
// the branch starts with "^"), its literal end (when it ends with "$") and
// its longest literal run. A branch that is only literal bytes between
// optional anchors (pure) is decided by its literal alone (whole).
struct Branch {
  Literal prefix, suffix, longest, whole;
  bool at_start, at_end, pure;
};

// How large a tree a reading may build, beyond its space.
struct Limits {
  unsigned atom_bound;   // the most copies a repetition makes of a byte or set
  unsigned group_bound;  // ... and of a group
  uint64_t weight;       // the most nodes all copies add up to, repetitions expanded
  unsigned depth;        // groups inside groups
  size_t length;         // bytes of the pattern
};

// A tree, in space that the caller gives (its capacities in *_space).
struct Syntax {
  const char* pattern;
  Node* nodes;
  size_t node_space;
  unsigned node_count;
  Branch* branches;
  size_t branch_space;
  unsigned branch_count;
  unsigned char* literals;
  size_t literal_space;
  unsigned literal_count;
  bool back_reference;   // some node is a back-reference
  bool inner_anchor;     // "^" or "$" inside a group
  bool left_to_regcomp;  // some node is flagged kLeftToRegcomp
};

enum class Reading : uint8_t {
  kRead,          // the pattern is read (regcomp may still refuse a flagged node)
  kInvalid,       // regcomp refuses the pattern
  kBeyondLimits,  // a repetition, a nesting or the whole is larger than the limits
  kOutOfSpace,    // the tree does not fit the space given
};

// Reads pattern into syntax (whose space the caller has set). *why says,
// when the pattern is not read, what stopped the reading.
Reading read(const char* pattern, const Limits& limits, Syntax& syntax, const char** why);

// The gate's reading: fixed space, no allocation.
struct GateSyntax : Syntax {
  static constexpr size_t kMaxNodes = 256;
  static constexpr size_t kMaxBranches = 32;
  static constexpr size_t kMaxLength =
      1024;  // literal bytes of a pattern; more are left to regcomp
  GateSyntax() = default;
  GateSyntax(const GateSyntax&) = delete;
  GateSyntax& operator=(const GateSyntax&) = delete;
  Node node_store[kMaxNodes];
  Branch branch_store[kMaxBranches];
  unsigned char literal_store[kMaxLength];
};
constexpr size_t kMaxBranches = GateSyntax::kMaxBranches;

// True when regcomp(pattern, 0) certainly succeeds in the C locale and the
// pattern is in the subset the gate's matcher decides; syntax then describes
// it. False for every pattern that does not compile, and for any the gate
// leaves to regcomp.
bool parse(const char* pattern, GateSyntax& syntax);

// The 256 bits of a kSet node's bytes.
void set_of(const Syntax& syntax, const Node& node, uint32_t* set);

inline bool in_set(const uint32_t* set, unsigned char c) {
  return ((set[c >> 5] >> (c & 31)) & 1) != 0;
}

}  // namespace pattern

// White-list patterns answered without compiling them, exactly as regcomp and
// regexec (basic syntax, no flags) would answer them: compiling each entry
// costs far more than the gate's other work.
//
// A pattern the reader (pattern_syntax.cpp) knows regcomp compiles, with no
// node left to regcomp, is decided in two steps:
// 1. the literal text of each top-level branch: the bytes it must start with
//    (after "^"), end with (before "$") and contain. A text that fails every
//    branch is refused; a branch that is nothing but literal bytes decides
//    at once;
// 2. a byte automaton over the branches left, simulated over the text (a
//    match may start anywhere; "^" holds only at the text's start and "$"
//    only at its end, since without REG_NEWLINE a newline is an ordinary
//    byte). A back-reference is read as any text, so only its "no" is
//    exact. Patterns with anchors inside groups are left to the regex engine
//    after step 1: glibc gives them meanings of its own (a "^" in a group
//    also holds after a newline inside the match, a "$" before "\)" lets the
//    next byte be only a newline, anchors in the copies of an interval are
//    ignored).
// In the C locale only (the gate's): there bytes are characters, ranges are
// byte ranges and the classes are ASCII's.
#include "pattern_match.h"

#include <clocale>
#include <cstdlib>
#include <cstring>

#include "pattern_syntax.h"

bool special_in_pattern(char c) {
  return c == '\\' || c == '.' || c == '[' || c == '*' || c == '^' || c == '$' || c == '\0';
}

namespace {

using pattern::Branch;
using pattern::Literal;
using pattern::Node;
using pattern::NodeKind;
using pattern::Syntax;

// Every category of the C locale: one query, since a locale whose categories
// differ has a composite name.
bool c_locale() {
  if (MB_CUR_MAX != 1) return false;
  const char* name = setlocale(LC_ALL, nullptr);
  return name != nullptr && (strcmp(name, "C") == 0 || strcmp(name, "POSIX") == 0);
}

struct Text {
  const unsigned char* bytes;
  size_t length;
};

bool has_at(const Text& text, size_t at, const Syntax& s, Literal l) {
  return memcmp(text.bytes + at, s.literals + l.offset, l.length) == 0;
}

bool starts_with(const Text& text, const Syntax& s, Literal l) {
  return text.length >= l.length && has_at(text, 0, s, l);
}

bool ends_with(const Text& text, const Syntax& s, Literal l) {
  return text.length >= l.length && has_at(text, text.length - l.length, s, l);
}

bool contains(const Text& text, const Syntax& s, Literal l) {
  return l.length == 0 ||
         memmem(text.bytes, text.length, s.literals + l.offset, l.length) != nullptr;
}

enum class Fit { kMatches, kCannot, kMaybe };

// What the literal text of branch b tells about text.
Fit literal_fit(const Text& text, const Syntax& s, const Branch& b) {
  if (b.pure) {
    const Literal w = b.whole;
    bool fits = false;
    if (b.at_start && b.at_end) {
      fits = text.length == w.length && has_at(text, 0, s, w);
    } else if (b.at_start) {
      fits = starts_with(text, s, w);
    } else if (b.at_end) {
      fits = ends_with(text, s, w);
    } else {
      fits = contains(text, s, w);
    }
    return fits ? Fit::kMatches : Fit::kCannot;
  }
  if (b.at_start && !starts_with(text, s, b.prefix)) return Fit::kCannot;
  if (b.at_end && !ends_with(text, s, b.suffix)) return Fit::kCannot;
  return contains(text, s, b.longest) ? Fit::kMaybe : Fit::kCannot;
}

// --- the automaton -----------------------------------------------------------

enum class Op : uint8_t { kByte, kSet, kSplit, kJump, kBegin, kEnd, kMatch };

struct Inst {
  Op op;
  uint8_t value;  // kByte: the byte; kSet: the set
  uint16_t x, y;  // kSplit: both ways on; kJump: x
};

constexpr unsigned kMaxProgram = 1024;
constexpr uint16_t kNone = 0xffff;

constexpr unsigned kMaxSets = 64;
constexpr Node kAnyByte{
    NodeKind::kSet, static_cast<uint8_t>(pattern::SetKind::kAny), 0, 1, 1, 0, 0, 0};

class Compiler {
 public:
  Compiler(const Syntax& s, Inst* code) : s_(s), code_(code) {}

  const uint32_t* set(unsigned index) const { return sets_[index]; }

  // The program of the top-level branches kept (keep[i] for branch i), or
  // false when it would be too large.
  bool compile(const bool* keep) {
    alternatives(s_.nodes[0].first, keep);
    emit(Op::kMatch);
    return !overflow_;
  }
  unsigned size() const { return size_; }

 private:
  const Syntax& s_;
  Inst* code_;
  unsigned size_ = 0;
  bool overflow_ = false;
  uint32_t sets_[kMaxSets][8];
  unsigned set_count_ = 0;
  const Node* set_nodes_[kMaxSets];  // the node each set was made for

  // The index of a kSet node's set, made once per node.
  uint8_t set_index(const Node& n) {
    for (unsigned i = 0; i < set_count_; ++i)
      if (set_nodes_[i] == &n) return static_cast<uint8_t>(i);
    if (set_count_ >= kMaxSets) {
      overflow_ = true;
      return 0;
    }
    pattern::set_of(s_, n, sets_[set_count_]);
    set_nodes_[set_count_] = &n;
    return static_cast<uint8_t>(set_count_++);
  }

  uint16_t emit(Op op, uint8_t value = 0, uint16_t x = 0, uint16_t y = 0) {
    if (size_ >= kMaxProgram) {
      overflow_ = true;
      return kMaxProgram;  // a scratch slot
    }
    code_[size_] = Inst{op, value, x, y};
    return static_cast<uint16_t>(size_++);
  }
  uint16_t here() const { return static_cast<uint16_t>(size_); }

  // Points every instruction of a list linked through y at here().
  void patch_y(uint16_t head) {
    while (!overflow_ && head != kNone) {
      const uint16_t next = code_[head].y;
      code_[head].y = here();
      head = next;
    }
  }

  void alternatives(uint32_t alt, const bool* keep) {
    uint16_t jumps = kNone;  // jumps to the end, linked through y
    unsigned index = 0;
    for (; alt != 0 && !overflow_; alt = s_.nodes[alt].next, ++index) {
      if (keep != nullptr && !keep[index]) continue;
      // Another kept alternative after this one?
      uint32_t later = s_.nodes[alt].next;
      for (unsigned i = index + 1; later != 0 && keep != nullptr && !keep[i]; ++i)
        later = s_.nodes[later].next;
      if (later == 0) {
        sequence(s_.nodes[alt].first);
        break;
      }
      const uint16_t split = emit(Op::kSplit, 0, static_cast<uint16_t>(size_ + 1), 0);
      sequence(s_.nodes[alt].first);
      jumps = emit(Op::kJump, 0, 0, jumps);
      if (!overflow_) code_[split].y = here();
    }
    // Jumps keep their target in x.
    while (!overflow_ && jumps != kNone) {
      const uint16_t next = code_[jumps].y;
      code_[jumps].x = here();
      jumps = next;
    }
  }

  void sequence(uint32_t node) {
    for (; node != 0 && !overflow_; node = s_.nodes[node].next) repeated(s_.nodes[node]);
  }

  void repeated(const Node& n) {
    for (unsigned i = 0; i < n.min; ++i) atom(n);
    if (n.max == pattern::kUnbounded) {
      const uint16_t loop = emit(Op::kSplit, 0, static_cast<uint16_t>(size_ + 1), 0);
      atom(n);
      emit(Op::kJump, 0, loop);
      if (!overflow_) code_[loop].y = here();
      return;
    }
    uint16_t skips = kNone;
    for (unsigned i = n.min; i < n.max; ++i) {
      skips = emit(Op::kSplit, 0, static_cast<uint16_t>(size_ + 1), skips);
      atom(n);
    }
    patch_y(skips);
  }

  void atom(const Node& n) {
    switch (n.kind) {
      case NodeKind::kString:
        for (unsigned i = 0; i < n.length; ++i) emit(Op::kByte, s_.literals[n.first + i]);
        break;
      case NodeKind::kSet:
        emit(Op::kSet, set_index(n));
        break;
      case NodeKind::kBackReference: {  // ".*"
        const uint16_t loop = emit(Op::kSplit, 0, static_cast<uint16_t>(size_ + 1), 0);
        emit(Op::kSet, set_index(kAnyByte));
        emit(Op::kJump, 0, loop);
        if (!overflow_) code_[loop].y = here();
        break;
      }
      case NodeKind::kGroup:
        alternatives(n.first, nullptr);
        break;
      case NodeKind::kBegin:
        emit(Op::kBegin);
        break;
      case NodeKind::kEnd:
        emit(Op::kEnd);
        break;
      case NodeKind::kAlt:
      case NodeKind::kWordAnchor:  // left to regcomp: never here
        break;
    }
  }
};

// Simulates the program over text, all its threads in step, a new one
// starting at every position (at the first only when anchored).
class Machine {
 public:
  Machine(const Compiler& compiler, const Inst* code, unsigned size, const Text& text)
      : compiler_(compiler), code_(code), text_(text) {
    memset(marks_, 0, size * sizeof marks_[0]);
  }

  bool matches(bool anchored) {
    unsigned current = 0;
    count_[0] = 0;
    ++generation_;
    add(0, 0, 0);
    for (size_t pos = 0; pos < text_.length && !found_; ++pos) {
      const unsigned char c = text_.bytes[pos];
      const unsigned next = 1 - current;
      count_[next] = 0;
      ++generation_;
      for (unsigned i = 0; i < count_[current]; ++i) {
        const uint16_t pc = threads_[current][i];
        const Inst& in = code_[pc];
        if (in.op == Op::kByte ? in.value == c : pattern::in_set(compiler_.set(in.value), c))
          add(next, static_cast<uint16_t>(pc + 1), pos + 1);
      }
      if (!anchored) add(next, 0, pos + 1);
      current = next;
      if (count_[current] == 0 && anchored) break;
    }
    return found_;
  }

 private:
  const Compiler& compiler_;
  const Inst* code_;
  const Text& text_;
  uint32_t marks_[kMaxProgram];
  uint32_t generation_ = 0;
  uint16_t threads_[2][kMaxProgram];
  unsigned count_[2] = {0, 0};
  uint16_t stack_[kMaxProgram];
  bool found_ = false;

  // Adds pc and everything reached from it without reading a byte, at
  // position pos, to the threads of list.
  void add(unsigned list, uint16_t pc, size_t pos) {
    unsigned top = 0;
    auto push = [&](uint16_t to) {
      if (marks_[to] == generation_) return;
      marks_[to] = generation_;
      stack_[top++] = to;
    };
    push(pc);
    while (top > 0) {
      const uint16_t at = stack_[--top];
      const Inst& in = code_[at];
      switch (in.op) {
        case Op::kByte:
        case Op::kSet:
          threads_[list][count_[list]++] = at;
          break;
        case Op::kSplit:
          push(in.y);
          push(in.x);
          break;
        case Op::kJump:
          push(in.x);
          break;
        case Op::kBegin:
          if (pos == 0) push(static_cast<uint16_t>(at + 1));
          break;
        case Op::kEnd:
          if (pos == text_.length) push(static_cast<uint16_t>(at + 1));
          break;
        case Op::kMatch:
          found_ = true;
          break;
      }
    }
  }
};

}  // namespace

int match_without_regex(const char* text, const char* pattern) {
  if (!c_locale()) return kNeedsRegex;
  pattern::GateSyntax syntax;
  if (!pattern::parse(pattern, syntax)) return kNeedsRegex;
  const Text t{reinterpret_cast<const unsigned char*>(text), strlen(text)};
  bool keep[pattern::kMaxBranches];
  bool any = false, anchored = true;
  for (unsigned i = 0; i < syntax.branch_count; ++i) {
    const Branch& b = syntax.branches[i];
    const Fit fit = literal_fit(t, syntax, b);
    if (fit == Fit::kMatches) return 0;
    keep[i] = fit == Fit::kMaybe;
    if (keep[i]) {
      any = true;
      anchored = anchored && b.at_start;
    }
  }
  if (!any) return 1;
  if (syntax.inner_anchor) return kNeedsRegex;
  Inst code[kMaxProgram + 1];
  Compiler compiler(syntax, code);
  if (!compiler.compile(keep)) return kNeedsRegex;
  Machine machine(compiler, code, compiler.size(), t);
  if (!machine.matches(anchored)) return 1;
  return syntax.back_reference ? kNeedsRegex : 0;
}

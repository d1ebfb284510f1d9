// The reader of pattern_syntax.h. It follows glibc's parser for basic
// syntax without flags (measured on glibc 2.36, each rule checked against
// regcomp by tests/test_pattern_match.cpp and the tool's model against the
// gate by tests/test_automaton.cpp):
// - "^" is an anchor only first in the pattern or right after "\(" or "\|";
//   "$" only last or right before "\|" or "\)"; elsewhere both are bytes;
// - where an expression starts (first, after "\(", "\|" or an anchor) "*",
//   "\+" and "\?" are bytes and "\{" is an error; "\}" is always a byte;
// - "*" or "\{" right after a repetition is an error ("a**", "a\+*");
//   "\+" and "\?" there are accepted ("a*\+");
// - "\N" needs group N closed earlier in the same branch: every "\|" starts
//   again from the groups closed before its alternation began;
// - an escaped byte without a meaning of its own is that byte ("\n" is "n");
//   inside a bracket expression "\" is an ordinary byte.
// Word and buffer anchors ("\b" "\B" "\<" "\>" "\`" "\'"), collating
// forms used as range ends, ranges with bytes above 0x7f, the errors above
// where the reading goes on as the tool models them, and repetitions whose
// copies make regcomp's own size grow steeply are flagged kLeftToRegcomp.
#include "pattern_syntax.h"

#include <cstring>

namespace pattern {

namespace {

// The character classes of the C locale, in the order of kClassNames.
constexpr const char* kClassNames[] = {"alpha", "upper", "lower", "digit", "alnum", "xdigit",
                                       "space", "blank", "print", "graph", "punct", "cntrl"};
constexpr unsigned kAlnum = 4, kSpace = 6;
constexpr size_t kClassCount = sizeof kClassNames / sizeof kClassNames[0];

constexpr bool in_class(unsigned k, unsigned c) {
  const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
  const bool digit = c >= '0' && c <= '9', alpha = upper || lower;
  const bool graph = c > ' ' && c <= '~';
  switch (k) {
    case 0:
      return alpha;
    case 1:
      return upper;
    case 2:
      return lower;
    case 3:
      return digit;
    case 4:
      return alpha || digit;
    case 5:
      return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    case 6:
      return c == ' ' || (c >= '\t' && c <= '\r');
    case 7:
      return c == ' ' || c == '\t';
    case 8:
      return c >= ' ' && c <= '~';
    case 9:
      return graph;
    case 10:
      return graph && !alpha && !digit;
    default:
      return c < ' ' || c == 0x7f;
  }
}

struct ClassBits {
  uint32_t bits[kClassCount][8];
};
constexpr ClassBits class_bits() {
  ClassBits t{};
  for (unsigned k = 0; k < kClassCount; ++k)
    for (unsigned c = 0; c < 256; ++c)
      if (in_class(k, c)) t.bits[k][c >> 5] |= 1u << (c & 31);
  return t;
}
constexpr ClassBits kClasses = class_bits();

// Bytes that stand for themselves wherever they are, outside a bracket
// expression: all but NUL, "\", ".", "[", "*" and "$" ("^" past the start
// of a branch is a byte).
struct PlainBytes {
  bool plain[256];
};
constexpr PlainBytes plain_bytes() {
  PlainBytes t{};
  for (unsigned c = 1; c < 256; ++c)
    t.plain[c] = c != '\\' && c != '.' && c != '[' && c != '*' && c != '$';
  return t;
}
constexpr PlainBytes kPlain = plain_bytes();

int class_index(const unsigned char* name, size_t length) {
  for (unsigned k = 0; k < kClassCount; ++k)
    if (strlen(kClassNames[k]) == length && memcmp(kClassNames[k], name, length) == 0)
      return static_cast<int>(k);
  return -1;
}

void add(uint32_t* set, unsigned c) {
  if (set != nullptr) set[c >> 5] |= 1u << (c & 31);
}

// One element of a bracket expression at *p: a byte, "[.c.]" or "[=c=]" of
// one byte (*collating set), or a class "[:name:]", whose bytes go to set
// (kClass). kBad when it is not one (*why says why). *p moves past it.
constexpr int kClass = -1, kBad = -2;
int bracket_element(const unsigned char** p, uint32_t* set, bool* collating, const char** why) {
  const unsigned char* at = *p;
  *collating = false;
  if (at[0] == '[' && (at[1] == '.' || at[1] == '=' || at[1] == ':')) {
    const unsigned char delimiter = at[1];
    const unsigned char* name = at + 2;
    const unsigned char* end = name;
    while (*end != '\0' && !(end[0] == delimiter && end[1] == ']')) ++end;
    if (*end == '\0') {
      *why = "an unterminated bracket element";
      return kBad;
    }
    *p = end + 2;
    const auto length = static_cast<size_t>(end - name);
    if (delimiter == ':') {
      const int k = class_index(name, length);
      if (k < 0) {
        *why = "an unknown character class";
        return kBad;
      }
      if (set != nullptr)
        for (unsigned i = 0; i < 8; ++i) set[i] |= kClasses.bits[k][i];
      return kClass;
    }
    if (length != 1) {
      *why = "a collating element of several bytes";
      return kBad;
    }
    *collating = true;
    return name[0];
  }
  *p = at + 1;
  return at[0];
}

// The bracket expression whose contents start at p (after its "["): the
// byte after its "]", or null when regcomp refuses it (*why says why). Adds
// its bytes to set unless set is null. *regcomp_only: a form the gate's
// matcher leaves to regcomp (a class, an equivalence or collating element
// before a "-" that is not last, a "-" elsewhere than first, last or a
// range's end, a collating end of a range, a range from "-" or to "[", a
// range with bytes above 0x7f).
const unsigned char* bracket(const unsigned char* p, uint32_t* set, bool* regcomp_only,
                             const char** why) {
  bool negate = false;
  if (*p == '^') {
    negate = true;
    ++p;
  }
  for (bool first = true;; first = false) {
    const unsigned char c = *p;
    if (c == '\0') {
      *why = "an unterminated bracket";
      return nullptr;
    }
    if (c == ']' && !first) {
      ++p;
      break;
    }
    bool collating = false;
    const int low = bracket_element(&p, set, &collating, why);
    if (low == kBad) return nullptr;
    const bool range = p[0] == '-' && p[1] != ']' && p[1] != '\0';
    if (low == kClass || collating) {
      if (range) *regcomp_only = true;  // not recognised as a range start
      if (low == kClass) continue;
    } else if (c == '-' && !first && p[0] != ']') {
      *regcomp_only = true;  // "-" stands for itself only first or last
    }
    if (!range) {
      add(set, static_cast<unsigned>(low));
      continue;
    }
    ++p;
    const unsigned char end = *p;
    const int high = bracket_element(&p, set, &collating, why);
    if (high == kBad) return nullptr;
    if (high == kClass || high < low) {
      *why = "a range that is not one";
      return nullptr;
    }
    if (collating || low == '-' || end == '[' || low > 0x7f || high > 0x7f) *regcomp_only = true;
    if (set != nullptr)
      for (auto b = static_cast<unsigned>(low); b <= static_cast<unsigned>(high); ++b) add(set, b);
  }
  if (negate && set != nullptr)
    for (unsigned i = 0; i < 8; ++i) set[i] = ~set[i];
  return p;
}

bool repetition_at(const unsigned char* p) {
  return p[0] == '*' || (p[0] == '\\' && (p[1] == '+' || p[1] == '?' || p[1] == '{'));
}

// Weights saturate here, far beyond any limit.
constexpr uint64_t kWeightCap = uint64_t{1} << 40;
uint64_t capped(uint64_t weight) {
  return weight < kWeightCap ? weight : kWeightCap;
}

class Parser {
 public:
  Parser(const char* pattern, const Limits& limits, Syntax& out)
      : start_(reinterpret_cast<const unsigned char*>(pattern)),
        p_(start_),
        limits_(limits),
        out_(out) {}

  Reading run(const char** why) {
    out_.pattern = reinterpret_cast<const char*>(start_);
    out_.node_count = 0;
    out_.branch_count = 0;
    out_.literal_count = 0;
    out_.back_reference = false;
    out_.inner_anchor = false;
    out_.left_to_regcomp = false;
    uint64_t weight = 0;
    if (new_node(NodeKind::kGroup) == 0 && alternatives(0, &weight)) {
      if (*p_ != '\0') {
        fail(Reading::kInvalid, "an unmatched \\)");
      } else if (weight > limits_.weight || static_cast<size_t>(p_ - start_) > limits_.length) {
        fail(Reading::kBeyondLimits, "a pattern larger than the reader's limits");
      }
    }
    *why = why_;
    return status_;
  }

 private:
  // A sequence being read: the kAlt it belongs to and its last two nodes.
  struct Seq {
    unsigned alt;
    int last, before_last;
  };

  const unsigned char* const start_;
  const unsigned char* p_;
  const Limits& limits_;
  Syntax& out_;
  Reading status_ = Reading::kRead;
  const char* why_ = "";
  uint32_t closed_ = 0;  // bit n-1: group n closed (for "\n")
  unsigned groups_ = 0;
  unsigned anchors_ = 0;  // anchors inside groups so far
  unsigned depth_ = 0;
  // The literal run of the top-level branch being read.
  Literal run_{0, 0};
  bool run_at_start_ = false;

  bool fail(Reading status, const char* why) {
    if (status_ == Reading::kRead) {
      status_ = status;
      why_ = why;
    }
    return false;
  }
  bool at_escape(char c) const { return p_[0] == '\\' && p_[1] == static_cast<unsigned char>(c); }
  uint32_t offset(const unsigned char* at) const { return static_cast<uint32_t>(at - start_); }

  int new_node(NodeKind kind, uint8_t value = 0) {
    if (out_.node_count >= out_.node_space) return fail(Reading::kOutOfSpace, "too many nodes"), -1;
    out_.nodes[out_.node_count] = Node{kind, value, 0, 1, 1, 0, 0, 0};
    return static_cast<int>(out_.node_count++);
  }
  void left_to_regcomp(int node) {
    out_.nodes[node].flags |= kLeftToRegcomp;
    out_.left_to_regcomp = true;
  }

  void set_link(const Seq& s, int from, int to) {
    if (from < 0) {
      out_.nodes[s.alt].first = static_cast<uint32_t>(to);
    } else {
      out_.nodes[from].next = static_cast<uint32_t>(to);
    }
  }
  bool link(Seq& s, int node) {
    if (node < 0) return false;
    set_link(s, s.last, node);
    s.before_last = s.last;
    s.last = node;
    return true;
  }
  // The last node gives way to node, which wraps it.
  void replace_last(Seq& s, int node) {
    set_link(s, s.before_last, node);
    s.last = node;
  }

  // The top-level run closes at anything that is not a literal byte.
  void close_run(Branch* b) {
    if (b == nullptr) return;
    b->pure = false;
    if (b->at_start && run_at_start_) b->prefix = run_;
    if (run_.length > b->longest.length) b->longest = run_;
    run_ = Literal{out_.literal_count, 0};
    run_at_start_ = false;
  }

  // Appends the count bytes at bytes to the sequence: to its last node when
  // that is a string, not repeated, that ends where they go.
  bool literals(Seq& s, const unsigned char* bytes, unsigned count, Branch* b) {
    if (out_.literal_count + count > out_.literal_space)
      return fail(Reading::kOutOfSpace, "too many literal bytes");
    const uint32_t at = out_.literal_count;
    memcpy(out_.literals + at, bytes, count);
    out_.literal_count += count;
    if (b != nullptr) run_.length += count;
    if (s.last > 0) {
      Node& n = out_.nodes[s.last];
      if (n.kind == NodeKind::kString && (n.flags & kRepeated) == 0 && n.first + n.length == at) {
        n.length += count;
        return true;
      }
    }
    const int node = new_node(NodeKind::kString);
    if (node < 0) return false;
    out_.nodes[node].first = at;
    out_.nodes[node].length = count;
    return link(s, node);
  }
  bool literal(Seq& s, unsigned char c, Branch* b) { return literals(s, &c, 1, b); }

  // Alternatives joined by "\|" into group (a node index), up to "\)" or the
  // end, which the caller checks. *weight: their nodes, repetitions expanded.
  bool alternatives(unsigned group, uint64_t* weight) {
    const uint32_t closed_before = closed_;
    int last = -1;
    *weight = 0;
    for (;;) {
      const int alt = new_node(NodeKind::kAlt);
      if (alt < 0) return false;
      if (last < 0) {
        out_.nodes[group].first = static_cast<uint32_t>(alt);
      } else {
        out_.nodes[last].next = static_cast<uint32_t>(alt);
      }
      last = alt;
      uint64_t w = 0;
      if (!sequence(static_cast<unsigned>(alt), &w)) return false;
      *weight = capped(*weight + w);
      if (!at_escape('|')) return true;
      p_ += 2;
      closed_ = closed_before;
    }
  }

  // An anchor of its own at p_ ("\`" "\'" "\b" "\B" "\<" "\>"): its node,
  // left to regcomp by the gate; 0 when there is none.
  int escaped_anchor() {
    if (p_[0] != '\\' || p_[1] == '\0' || strchr("`'bB<>", p_[1]) == nullptr) return 0;
    const unsigned char e = p_[1];
    p_ += 2;
    const int node = e == '`'    ? new_node(NodeKind::kBegin, 1)
                     : e == '\'' ? new_node(NodeKind::kEnd, 1)
                                 : new_node(NodeKind::kWordAnchor, e);
    if (node >= 0) left_to_regcomp(node);
    return node;
  }

  // Whether the sequence from node i is empty once "\{0\}" drops its atoms.
  bool only_dropped(uint32_t i) const {
    for (; i != 0; i = out_.nodes[i].next)
      if (out_.nodes[i].max != 0) return false;
    return true;
  }

  // One branch: expressions up to "\|", "\)" or the end.
  bool sequence(unsigned alt, uint64_t* weight) {
    Branch* branch = nullptr;
    if (depth_ == 0) {
      if (out_.branch_count >= out_.branch_space)
        return fail(Reading::kOutOfSpace, "too many alternatives");
      branch = &out_.branches[out_.branch_count++];
      *branch = Branch{};
      branch->pure = true;
      run_ = Literal{out_.literal_count, 0};
      run_at_start_ = true;
    }
    Seq s{alt, -1, -1};
    if (*p_ == '^') {
      if (!link(s, new_node(NodeKind::kBegin))) return false;
      ++p_;
      if (branch != nullptr) {
        branch->at_start = true;
      } else {
        out_.inner_anchor = true;
        ++anchors_;
      }
    }
    *weight = 0;
    while (*p_ != '\0' && !at_escape('|') && !at_escape(')')) {
      if (kPlain.plain[*p_] && !repetition_at(p_ + 1)) {  // the common case, quickly
        const unsigned char* end = p_ + 1;
        while (kPlain.plain[*end] && !repetition_at(end + 1)) ++end;
        const auto n = static_cast<unsigned>(end - p_);
        if (!literals(s, p_, n, branch)) return false;
        p_ = end;
        *weight = capped(*weight + n);
        continue;
      }
      if (*p_ == '$' && (p_[1] == '\0' || (p_[1] == '\\' && (p_[2] == '|' || p_[2] == ')')))) {
        if (!link(s, new_node(NodeKind::kEnd))) return false;
        ++p_;
        if (branch != nullptr) {
          branch->at_end = true;
          branch->suffix = run_;
        } else {
          out_.inner_anchor = true;
          ++anchors_;
        }
        continue;  // the branch ends here
      }
      // An anchor takes no repetition: an expression starts after it.
      const int anchor = escaped_anchor();
      if (anchor < 0) return false;
      if (anchor > 0) {
        close_run(branch);
        link(s, anchor);
        continue;
      }
      uint64_t w = 0;
      if (!expression(s, branch, &w)) return false;
      *weight = capped(*weight + w);
    }
    if (branch != nullptr) {
      const Literal run = run_;
      const bool pure = branch->pure;
      close_run(branch);
      branch->pure = pure;
      if (pure) branch->whole = run;
    }
    return true;
  }

  // One atom and its repetitions.
  bool expression(Seq& s, Branch* branch, uint64_t* weight) {
    if (!atom(s, branch, weight)) return false;
    bool repeated = false, dropped = false;
    for (;;) {
      unsigned min = 0, max = 0;
      if (*p_ == '*') {
        ++p_;
        max = kUnbounded;
      } else if (at_escape('+')) {
        p_ += 2;
        min = 1;
        max = kUnbounded;
      } else if (at_escape('?')) {
        p_ += 2;
        max = 1;
      } else if (at_escape('{')) {
        p_ += 2;
        if (!bounds(&min, &max)) return false;
      } else {
        return true;
      }
      int node = s.last;
      if (!repeated && out_.nodes[node].kind == NodeKind::kString) {
        // The repetition takes the last byte only, which is no longer a
        // fixed part of every match.
        Node& n = out_.nodes[node];
        if (branch != nullptr) --run_.length;
        if (n.length > 1) {
          --n.length;
          const uint32_t at = n.first + n.length;
          node = new_node(NodeKind::kString);
          if (!link(s, node)) return false;
          out_.nodes[node].first = at;
          out_.nodes[node].length = 1;
        }
      }
      close_run(branch);
      // "Invalid preceding regular expression" ("a**"), and a repetition of
      // a dropped atom: read on as repetitions of repetitions.
      if (*p_ == '*' || at_escape('{') || dropped) left_to_regcomp(node);
      const Node& n = out_.nodes[node];
      const bool group = n.kind == NodeKind::kGroup;
      if (group && out_.nodes[n.first].next == 0 && only_dropped(out_.nodes[n.first].first))
        left_to_regcomp(node);  // a repetition of "\(\)", or of a group of dropped atoms
      // Copies of anchors make regcomp's size grow steeply ("\($\|\)\{100\}"
      // takes it over a gigabyte).
      if (group && n.value != 0 && max > 1) left_to_regcomp(node);
      const unsigned limit = group ? limits_.group_bound : limits_.atom_bound;
      if ((max != kUnbounded && max > limit) || min > limit)
        return fail(Reading::kBeyondLimits, "a repetition beyond the reader's limits");
      if (repeated) {
        // A repetition of a repetition: the first one becomes a group of its own.
        const int wrap = new_node(NodeKind::kGroup);
        const int alt = new_node(NodeKind::kAlt);
        if (wrap < 0 || alt < 0) return false;
        out_.nodes[alt].first = static_cast<uint32_t>(node);
        out_.nodes[node].next = 0;
        out_.nodes[wrap].first = static_cast<uint32_t>(alt);
        out_.nodes[wrap].flags = out_.nodes[node].flags & kLeftToRegcomp;
        replace_last(s, wrap);
        node = wrap;
      }
      Node& r = out_.nodes[node];
      r.min = static_cast<uint16_t>(min);
      r.max = static_cast<uint16_t>(max);
      r.flags |= kRepeated;
      const uint64_t copies = max == kUnbounded ? min + 1 : max;
      *weight = capped(*weight * copies + 2 * copies);
      if (*weight > limits_.weight)
        return fail(Reading::kBeyondLimits, "a repetition beyond the reader's limits");
      repeated = true;
      dropped = max == 0;  // "\{0\}" and "\{0,0\}" drop the atom
    }
  }

  // "\{" has been read: "m\}", "m,\}", "m,n\}", ",n\}" or ",\}" with decimal
  // digits, m <= n <= 32767 (glibc's RE_DUP_MAX). glibc also reads "\0" as
  // the digit 0 and "\," as the comma here ("\1" to "\9" are back-references,
  // which make the interval invalid).
  bool bounds(unsigned* min, unsigned* max) {
    bool too_large = false;
    // The bytes of the digit here, 0 when there is none; the digit is the last.
    auto digit = [&] { return *p_ >= '0' && *p_ <= '9' ? 1 : at_escape('0') ? 2 : 0; };
    auto number = [&](unsigned* value) {
      if (digit() == 0) return false;
      *value = 0;
      for (int w = digit(); w != 0; p_ += w, w = digit()) {
        if (*value <= 0x7fff) *value = *value * 10 + (p_[w - 1] - '0');
        too_large = too_large || *value > 0x7fff;
      }
      return true;
    };
    const bool has_min = number(min);
    if (!has_min) *min = 0;
    if (const int comma = *p_ == ',' ? 1 : at_escape(',') ? 2 : 0; comma != 0) {
      p_ += comma;
      if (!number(max)) *max = kUnbounded;
    } else if (has_min) {
      *max = *min;
    } else {
      return fail(Reading::kInvalid, "an interval that is not read as one");
    }
    if (too_large) return fail(Reading::kInvalid, "an interval beyond 32767");
    if (!at_escape('}')) return fail(Reading::kInvalid, "an interval that is not read as one");
    p_ += 2;
    if (*max != kUnbounded && *min > *max)
      return fail(Reading::kInvalid, "an interval whose bounds are reversed");
    return true;
  }

  bool set(Seq& s, SetKind kind, const unsigned char* text, bool regcomp_only, Branch* branch) {
    close_run(branch);
    const int node = new_node(NodeKind::kSet, static_cast<uint8_t>(kind));
    if (node < 0) return false;
    out_.nodes[node].first = offset(text);
    out_.nodes[node].length = static_cast<uint32_t>(p_ - text);
    if (regcomp_only) left_to_regcomp(node);
    return link(s, node);
  }

  // One atom where an expression starts, linked to the sequence (a literal
  // byte may join its last node).
  bool atom(Seq& s, Branch* branch, uint64_t* weight) {
    *weight = 1;
    const unsigned char* const text = p_;
    const unsigned char c = *p_;
    if (c == '\\') {
      const unsigned char e = p_[1];
      if (e == '\0') return fail(Reading::kInvalid, "a trailing backslash");
      if (e == '{') return fail(Reading::kInvalid, "an interval without anything to repeat");
      if (e == '(') {
        const int node = group(weight);
        close_run(branch);
        return link(s, node);
      }
      p_ += 2;
      if (e >= '1' && e <= '9') {
        close_run(branch);
        const int node = new_node(NodeKind::kBackReference, e);
        if (node < 0) return false;
        out_.back_reference = true;
        // "Invalid back reference": regcomp's to say.
        if ((closed_ & (1u << (e - '1'))) == 0) left_to_regcomp(node);
        return link(s, node);
      }
      if (e == 'w' || e == 'W' || e == 's' || e == 'S') {
        const SetKind kind = e == 'w'   ? SetKind::kWord
                             : e == 'W' ? SetKind::kNotWord
                             : e == 's' ? SetKind::kSpace
                                        : SetKind::kNotSpace;
        return set(s, kind, text, false, branch);
      }
      // "\+" and "\?" where an expression starts, "\}", and every other
      // escaped byte stand for the byte.
      return literal(s, e, branch);
    }
    ++p_;
    if (c == '.') return set(s, SetKind::kAny, text, false, branch);
    if (c == '[') {
      bool regcomp_only = false;
      const char* why = "";
      p_ = bracket(p_, nullptr, &regcomp_only, &why);
      if (p_ == nullptr) return fail(Reading::kInvalid, why);
      return set(s, SetKind::kBracket, text, regcomp_only, branch);
    }
    // "*" where an expression starts, "$" that is not an anchor, and every
    // other byte.
    return literal(s, c, branch);
  }

  // "\(" at p_: the group's node.
  int group(uint64_t* weight) {
    p_ += 2;
    if (++depth_ > limits_.depth)
      return fail(Reading::kBeyondLimits, "groups nested beyond the reader's limits"), -1;
    const unsigned number = ++groups_;
    const int node = new_node(NodeKind::kGroup);
    if (node < 0) return -1;
    uint64_t inner = 0;
    const unsigned anchors_before = anchors_;
    if (!alternatives(static_cast<unsigned>(node), &inner)) return -1;
    if (!at_escape(')')) return fail(Reading::kInvalid, "an unmatched \\("), -1;
    p_ += 2;
    --depth_;
    out_.nodes[node].value = anchors_ != anchors_before ? 1 : 0;  // holds an anchor
    if (number <= 9) closed_ |= 1u << (number - 1);
    *weight = capped(inner + 2);
    return node;
  }
};

// The gate's limits. The most copies one repetition makes: of a single byte
// or set, and of a group (regcomp's own size grows with the copies); the
// most nodes the copies may add up to; the deepest nesting; the longest
// pattern.
constexpr Limits kGateLimits{255, 16, 2048, 16, 0xfffe};

}  // namespace

Reading read(const char* pattern, const Limits& limits, Syntax& syntax, const char** why) {
  return Parser(pattern, limits, syntax).run(why);
}

bool parse(const char* pattern, GateSyntax& syntax) {
  syntax.nodes = syntax.node_store;
  syntax.node_space = GateSyntax::kMaxNodes;
  syntax.branches = syntax.branch_store;
  syntax.branch_space = GateSyntax::kMaxBranches;
  syntax.literals = syntax.literal_store;
  syntax.literal_space = GateSyntax::kMaxLength;
  const char* why = nullptr;
  return read(pattern, kGateLimits, syntax, &why) == Reading::kRead && !syntax.left_to_regcomp;
}

void set_of(const Syntax& syntax, const Node& node, uint32_t* set) {
  memset(set, 0, 8 * sizeof set[0]);
  switch (static_cast<SetKind>(node.value)) {
    case SetKind::kAny:
      memset(set, 0xff, 8 * sizeof set[0]);
      break;
    case SetKind::kBracket: {
      bool regcomp_only = false;
      const char* why = nullptr;
      bracket(reinterpret_cast<const unsigned char*>(syntax.pattern) + node.first + 1, set,
              &regcomp_only, &why);
      break;
    }
    case SetKind::kWord:
    case SetKind::kNotWord:
      for (unsigned i = 0; i < 8; ++i) set[i] = kClasses.bits[kAlnum][i];
      add(set, '_');
      if (static_cast<SetKind>(node.value) == SetKind::kNotWord)
        for (unsigned i = 0; i < 8; ++i) set[i] = ~set[i];
      break;
    case SetKind::kSpace:
    case SetKind::kNotSpace:
      for (unsigned i = 0; i < 8; ++i) set[i] = kClasses.bits[kSpace][i];
      if (static_cast<SetKind>(node.value) == SetKind::kNotSpace)
        for (unsigned i = 0; i < 8; ++i) set[i] = ~set[i];
      break;
  }
}

}  // namespace pattern

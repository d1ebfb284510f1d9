// The recogniser of pattern_syntax.h. It follows glibc's parser for basic
// syntax without flags (measured on glibc 2.36, each rule checked against
// regcomp by tests/test_pattern_match.cpp):
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
// Word anchors ("\b" "\B" "\<" "\>" "\`" "\'"), collating forms used as
// range ends, ranges with bytes above 0x7f and large repetitions are not
// recognised: regcomp takes them as before.
#include "pattern_syntax.h"

#include <cstring>

namespace pattern {

namespace {

// The most copies one repetition makes: of a single byte or set, and of a
// group. regcomp's own size grows with the copies, and steeply for copies of
// anchors ("\($\|\)\{100\}" takes it over a gigabyte), which are left out.
constexpr unsigned kMaxAtomBound = 255;
constexpr unsigned kMaxGroupBound = 16;
// The most nodes the copies may add up to, the repetitions expanded.
constexpr unsigned kMaxWeight = 2048;
constexpr int kMaxDepth = 16;

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

// The bracket expression whose contents start at p (after its "["): the
// byte after its "]", or null when it is not recognised (every error among
// them). Adds its bytes to set unless set is null.
const unsigned char* bracket(const unsigned char* p, uint32_t* set) {
  bool negate = false;
  if (*p == '^') {
    negate = true;
    ++p;
  }
  for (bool first = true;; first = false) {
    const unsigned char c = *p;
    if (c == '\0') return nullptr;  // "Unmatched ["
    if (c == ']' && !first) {
      ++p;
      break;
    }
    if (c == '[' && p[1] == ':') {
      const unsigned char* name = p + 2;
      const unsigned char* end = name;
      while (*end != '\0' && !(end[0] == ':' && end[1] == ']')) ++end;
      const int k = class_index(name, static_cast<size_t>(end - name));
      if (*end == '\0' || k < 0) return nullptr;
      if (set != nullptr)
        for (unsigned i = 0; i < 8; ++i) set[i] |= kClasses.bits[k][i];
      p = end + 2;
      if (p[0] == '-' && p[1] != ']') return nullptr;  // a class cannot start a range
      continue;
    }
    if (c == '[' && (p[1] == '=' || p[1] == '.')) {
      const unsigned char delimiter = p[1], b = p[2];
      if (b == '\0' || p[3] != delimiter || p[4] != ']') return nullptr;
      add(set, b);
      p += 5;
      if (p[0] == '-' && p[1] != ']') return nullptr;  // not recognised as a range start
      continue;
    }
    // "-" stands for itself first or last; elsewhere it must end a range.
    if (c == '-' && !first && p[1] != ']') return nullptr;
    ++p;
    if (p[0] == '-' && p[1] != ']' && p[1] != '\0') {
      const unsigned char last = p[1];
      if (c == '-' || last == '[' || c > 0x7f || last > 0x7f || c > last) return nullptr;
      if (set != nullptr)
        for (unsigned b = c; b <= last; ++b) add(set, b);
      p += 2;
      continue;
    }
    add(set, c);
  }
  if (negate && set != nullptr)
    for (unsigned i = 0; i < 8; ++i) set[i] = ~set[i];
  return p;
}

bool repetition_at(const unsigned char* p) {
  return p[0] == '*' || (p[0] == '\\' && (p[1] == '+' || p[1] == '?' || p[1] == '{'));
}

class Parser {
 public:
  Parser(const char* pattern, Syntax& out)
      : start_(reinterpret_cast<const unsigned char*>(pattern)), p_(start_), out_(out) {}

  bool run() {
    out_.pattern = reinterpret_cast<const char*>(start_);
    out_.node_count = 1;
    out_.branch_count = 0;
    out_.literal_count = 0;
    out_.back_reference = false;
    out_.inner_anchor = false;
    out_.nodes[0] = Node{NodeKind::kGroup, 0, 1, 1, 0, 0, 0};
    unsigned weight = 0;
    if (!alternatives(0, &weight)) return false;
    return *p_ == '\0' && weight <= kMaxWeight && p_ - start_ < 0xffff;
  }

 private:
  // A sequence being read: the kAlt it belongs to and its last two nodes.
  struct Seq {
    unsigned alt;
    int last, before_last;
  };

  const unsigned char* const start_;
  const unsigned char* p_;
  Syntax& out_;
  uint32_t closed_ = 0;  // bit n-1: group n closed (for "\n")
  unsigned groups_ = 0;
  unsigned anchors_ = 0;  // anchors inside groups so far
  int depth_ = 0;
  // The literal run of the top-level branch being read.
  Literal run_{0, 0};
  bool run_at_start_ = false;

  bool at_escape(char c) const { return p_[0] == '\\' && p_[1] == static_cast<unsigned char>(c); }

  int new_node(NodeKind kind, uint8_t value = 0) {
    if (out_.node_count >= kMaxNodes) return -1;
    out_.nodes[out_.node_count] = Node{kind, value, 1, 1, 0, 0, 0};
    return static_cast<int>(out_.node_count++);
  }

  void set_link(const Seq& s, int from, int to) {
    if (from < 0) {
      out_.nodes[s.alt].first = static_cast<uint16_t>(to);
    } else {
      out_.nodes[from].next = static_cast<uint16_t>(to);
    }
  }
  bool link(Seq& s, int node) {
    if (node < 0) return false;
    set_link(s, s.last, node);
    s.before_last = s.last;
    s.last = node;
    return true;
  }
  // The last node gives way to node (which wraps it) or to nothing.
  void replace_last(Seq& s, int node) {
    set_link(s, s.before_last, node < 0 ? 0 : node);
    s.last = node < 0 ? s.before_last : node;
  }

  // The top-level run closes at anything that is not a literal byte.
  void close_run(Branch* b) {
    if (b == nullptr) return;
    b->pure = false;
    if (b->at_start && run_at_start_) b->prefix = run_;
    if (run_.length > b->longest.length) b->longest = run_;
    run_ = Literal{static_cast<uint16_t>(out_.literal_count), 0};
    run_at_start_ = false;
  }

  // Appends the count bytes at bytes to the sequence: to its last node when
  // that is a string that ends where they go.
  bool literals(Seq& s, const unsigned char* bytes, unsigned count, Branch* b) {
    if (out_.literal_count + count > kMaxLength) return false;
    const auto at = static_cast<uint16_t>(out_.literal_count);
    memcpy(out_.literals + at, bytes, count);
    out_.literal_count += count;
    if (b != nullptr) run_.length = static_cast<uint16_t>(run_.length + count);
    if (s.last > 0) {
      Node& n = out_.nodes[s.last];
      if (n.kind == NodeKind::kString && n.max == 1 && n.min == 1 && n.first + n.length == at) {
        n.length = static_cast<uint16_t>(n.length + count);
        return true;
      }
    }
    const int node = new_node(NodeKind::kString);
    if (node < 0) return false;
    out_.nodes[node].first = at;
    out_.nodes[node].length = static_cast<uint16_t>(count);
    return link(s, node);
  }
  bool literal(Seq& s, unsigned char c, Branch* b) { return literals(s, &c, 1, b); }

  // Alternatives joined by "\|" into group (a node index), up to "\)" or the
  // end, which the caller checks. *weight: their nodes, repetitions expanded.
  bool alternatives(unsigned group, unsigned* weight) {
    const uint32_t closed_before = closed_;
    int last = -1;
    *weight = 0;
    for (;;) {
      const int alt = new_node(NodeKind::kAlt);
      if (alt < 0) return false;
      if (last < 0) {
        out_.nodes[group].first = static_cast<uint16_t>(alt);
      } else {
        out_.nodes[last].next = static_cast<uint16_t>(alt);
      }
      last = alt;
      unsigned w = 0;
      if (!sequence(static_cast<unsigned>(alt), &w)) return false;
      *weight += w;
      if (!at_escape('|')) return true;
      p_ += 2;
      closed_ = closed_before;
    }
  }

  // One branch: expressions up to "\|", "\)" or the end.
  bool sequence(unsigned alt, unsigned* weight) {
    Branch* branch = nullptr;
    if (depth_ == 0) {
      if (out_.branch_count >= kMaxBranches) return false;
      branch = &out_.branches[out_.branch_count++];
      *branch = Branch{};
      branch->pure = true;
      run_ = Literal{static_cast<uint16_t>(out_.literal_count), 0};
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
    bool start = true;  // where an expression starts
    *weight = 0;
    while (*p_ != '\0' && !at_escape('|') && !at_escape(')')) {
      if (kPlain.plain[*p_] && !repetition_at(p_ + 1)) {  // the common case, quickly
        const unsigned char* end = p_ + 1;
        while (kPlain.plain[*end] && !repetition_at(end + 1)) ++end;
        const auto n = static_cast<unsigned>(end - p_);
        if (!literals(s, p_, n, branch)) return false;
        p_ = end;
        *weight += n;
        start = false;
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
      unsigned w = 0;
      if (!expression(s, start, branch, &w)) return false;
      *weight += w;
      start = false;
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
  bool expression(Seq& s, bool start, Branch* branch, unsigned* weight) {
    if (!atom(s, start, branch, weight)) return false;
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
      if (*p_ == '*' || at_escape('{')) return false;  // "Invalid preceding regular expression"
      if (dropped) return false;  // a repetition of a dropped atom: not recognised
      int node = s.last;
      if (!repeated && out_.nodes[node].kind == NodeKind::kString) {
        // The repetition takes the last byte only, which is no longer a
        // fixed part of every match.
        Node& n = out_.nodes[node];
        if (branch != nullptr) --run_.length;
        if (n.length > 1) {
          --n.length;
          const uint16_t at = static_cast<uint16_t>(n.first + n.length);
          node = new_node(NodeKind::kString);
          if (!link(s, node)) return false;
          out_.nodes[node].first = at;
          out_.nodes[node].length = 1;
        }
      }
      close_run(branch);
      const Node& n = out_.nodes[node];
      const bool group = n.kind == NodeKind::kGroup;
      if (group && out_.nodes[n.first].next == 0 && out_.nodes[n.first].first == 0)
        return false;  // a repetition of "\(\)": not recognised
      // Copies of anchors make regcomp's size grow steeply: not recognised.
      if (group && n.value != 0 && max > 1) return false;
      const unsigned limit = group ? kMaxGroupBound : kMaxAtomBound;
      if ((max != kUnbounded && max > limit) || min > limit) return false;
      if (repeated) {
        // A repetition of a repetition: the first one becomes a group of its own.
        const int wrap = new_node(NodeKind::kGroup);
        const int alt = new_node(NodeKind::kAlt);
        if (wrap < 0 || alt < 0) return false;
        out_.nodes[alt].first = static_cast<uint16_t>(node);
        out_.nodes[wrap].first = static_cast<uint16_t>(alt);
        replace_last(s, wrap);
        node = wrap;
      }
      Node& r = out_.nodes[node];
      r.min = static_cast<uint16_t>(min);
      r.max = static_cast<uint16_t>(max);
      const unsigned copies = max == kUnbounded ? min + 1 : max;
      *weight = *weight * copies + 2 * copies;
      if (*weight > kMaxWeight) return false;
      repeated = true;
      if (max == 0) {  // "\{0\}" and "\{0,0\}" drop the atom
        replace_last(s, -1);
        dropped = true;
      }
    }
  }

  // "\{" has been read: "m\}", "m,\}", "m,n\}", ",n\}" or ",\}" with decimal
  // digits, m <= n.
  bool bounds(unsigned* min, unsigned* max) {
    auto number = [&](unsigned* value) {
      if (*p_ < '0' || *p_ > '9') return false;
      *value = 0;
      while (*p_ >= '0' && *p_ <= '9') {
        *value = *value * 10 + (*p_++ - '0');
        if (*value > 100000) return false;
      }
      return true;
    };
    const bool has_min = number(min);
    if (!has_min) *min = 0;
    if (*p_ == ',') {
      ++p_;
      if (!number(max)) *max = kUnbounded;
    } else if (has_min) {
      *max = *min;
    } else {
      return false;  // "\{\}" or a byte that is not a digit
    }
    if (!at_escape('}')) return false;
    p_ += 2;
    return *max == kUnbounded || *min <= *max;
  }

  // One atom, linked to the sequence (a literal byte may join its last node).
  bool atom(Seq& s, bool start, Branch* branch, unsigned* weight) {
    (void)start;  // "*", "\+" and "\?" reach here only where an expression starts
    *weight = 1;
    const unsigned char c = *p_;
    if (c == '\\') {
      const unsigned char e = p_[1];
      if (e == '\0') return false;  // a trailing "\"
      if (e == '{') return false;   // where an expression starts
      if (e == '(') {
        const int node = group(weight);
        close_run(branch);
        return link(s, node);
      }
      p_ += 2;
      if (e >= '1' && e <= '9') {
        if ((closed_ & (1u << (e - '1'))) == 0) return false;  // "Invalid back reference"
        out_.back_reference = true;
        close_run(branch);
        return link(s, new_node(NodeKind::kAnyText));
      }
      if (e == 'w' || e == 'W' || e == 's' || e == 'S') {
        const SetKind kind = e == 'w'   ? SetKind::kWord
                             : e == 'W' ? SetKind::kNotWord
                             : e == 's' ? SetKind::kSpace
                                        : SetKind::kNotSpace;
        close_run(branch);
        return link(s, new_node(NodeKind::kSet, static_cast<uint8_t>(kind)));
      }
      if (strchr("<>bB`'", e) != nullptr) return false;  // word and buffer anchors
      // "\+" and "\?" where an expression starts, "\}", and every other
      // escaped byte stand for the byte.
      return literal(s, e, branch);
    }
    ++p_;
    if (c == '.') {
      close_run(branch);
      return link(s, new_node(NodeKind::kSet, static_cast<uint8_t>(SetKind::kAny)));
    }
    if (c == '[') {
      const unsigned char* contents = p_;
      p_ = bracket(p_, nullptr);
      if (p_ == nullptr) return false;
      close_run(branch);
      const int node = new_node(NodeKind::kSet, static_cast<uint8_t>(SetKind::kBracket));
      if (node < 0) return false;
      out_.nodes[node].first = static_cast<uint16_t>(contents - start_);
      return link(s, node);
    }
    // "*" where an expression starts, "$" that is not an anchor, and every
    // other byte.
    return literal(s, c, branch);
  }

  // "\(" at p_: the group's node.
  int group(unsigned* weight) {
    p_ += 2;
    if (++depth_ > kMaxDepth) return -1;
    const unsigned number = ++groups_;
    const int node = new_node(NodeKind::kGroup);
    if (node < 0) return -1;
    unsigned inner = 0;
    const unsigned anchors_before = anchors_;
    if (!alternatives(static_cast<unsigned>(node), &inner)) return -1;
    if (!at_escape(')')) return -1;  // "Unmatched ( or \("
    p_ += 2;
    --depth_;
    out_.nodes[node].value = anchors_ != anchors_before ? 1 : 0;  // holds an anchor
    if (number <= 9) closed_ |= 1u << (number - 1);
    *weight = inner + 2;
    return node;
  }
};

}  // namespace

bool parse(const char* pattern, Syntax& syntax) {
  return Parser(pattern, syntax).run();
}

void set_of(const Syntax& syntax, const Node& node, uint32_t* set) {
  memset(set, 0, 8 * sizeof set[0]);
  switch (static_cast<SetKind>(node.value)) {
    case SetKind::kAny:
      memset(set, 0xff, 8 * sizeof set[0]);
      break;
    case SetKind::kBracket:
      bracket(reinterpret_cast<const unsigned char*>(syntax.pattern) + node.first, set);
      break;
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

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
constexpr unsigned kNoGroups = 0;

bool is_digit(unsigned char c) {
  return c >= '0' && c <= '9';
}

void add_byte(uint32_t* set, unsigned char c) {
  set[c >> 5] |= 1u << (c & 31);
}

// The character classes of the C locale.
bool in_class(const char* name, size_t length, unsigned char c) {
  auto is = [&](const char* want) {
    return length == strlen(want) && memcmp(name, want, length) == 0;
  };
  const bool upper = c >= 'A' && c <= 'Z', lower = c >= 'a' && c <= 'z';
  const bool digit = is_digit(c), alpha = upper || lower;
  const bool print = c >= ' ' && c <= '~', graph = c > ' ' && c <= '~';
  if (is("alpha")) return alpha;
  if (is("upper")) return upper;
  if (is("lower")) return lower;
  if (is("digit")) return digit;
  if (is("alnum")) return alpha || digit;
  if (is("xdigit")) return digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
  if (is("space")) return c == ' ' || (c >= '\t' && c <= '\r');
  if (is("blank")) return c == ' ' || c == '\t';
  if (is("print")) return print;
  if (is("graph")) return graph;
  if (is("punct")) return graph && !alpha && !digit;
  if (is("cntrl")) return c < ' ' || c == 0x7f;
  return false;
}

bool known_class(const char* name, size_t length) {
  static const char* const kNames[] = {"alpha", "upper", "lower", "digit", "alnum", "xdigit",
                                       "space", "blank", "print", "graph", "punct", "cntrl"};
  for (const char* known : kNames)
    if (length == strlen(known) && memcmp(name, known, length) == 0) return true;
  return false;
}

class Parser {
 public:
  Parser(const char* pattern, Syntax& out)
      : p_(reinterpret_cast<const unsigned char*>(pattern)), out_(out) {}

  bool run() {
    out_.node_count = 1;
    out_.set_count = 1;
    memset(out_.sets[0], 0xff, sizeof out_.sets[0]);
    out_.branch_count = 0;
    out_.literal_count = 0;
    out_.back_reference = false;
    out_.inner_anchor = false;
    Node& root = out_.nodes[0];
    root = Node{NodeKind::kGroup, 0, 1, 1, 0, 0};
    unsigned weight = 0;
    if (!alternatives(0, &weight)) return false;
    return *p_ == '\0' && weight <= kMaxWeight;
  }

 private:
  const unsigned char* p_;
  Syntax& out_;
  uint32_t closed_ = kNoGroups;  // bit n-1: group n closed (for "\n")
  unsigned groups_ = 0;
  unsigned anchors_ = 0;  // anchors inside groups so far
  int depth_ = 0;
  // The literal run of the top-level branch being read.
  Literal run_;
  bool run_at_start_ = false;

  bool at(const char* token) const {
    return memcmp(p_, token, strlen(token)) == 0;  // token never holds NUL: stops at the end
  }
  bool at_escape(char c) const { return p_[0] == '\\' && p_[1] == static_cast<unsigned char>(c); }

  int new_node(NodeKind kind, uint8_t value = 0) {
    if (out_.node_count >= kMaxNodes) return -1;
    out_.nodes[out_.node_count] = Node{kind, value, 1, 1, 0, 0};
    return static_cast<int>(out_.node_count++);
  }
  int new_set() {
    if (out_.set_count >= kMaxSets) return -1;
    memset(out_.sets[out_.set_count], 0, sizeof out_.sets[0]);
    return static_cast<int>(out_.set_count++);
  }

  // The top-level run: bytes are appended as single bytes arrive, and the
  // run closes at anything else.
  void run_byte(unsigned char c) {
    out_.literals[out_.literal_count++] = c;
    ++run_.length;
  }
  void close_run(Branch& b) {
    if (b.at_start && run_at_start_) b.prefix = run_;
    if (run_.length > b.longest.length) b.longest = run_;
    run_ = Literal{static_cast<uint16_t>(out_.literal_count), 0};
    run_at_start_ = false;
  }

  // Alternatives joined by "\|" into group (a node index), up to "\)" or the
  // end, which the caller checks. *weight: the nodes of the widest.
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
    const bool top = depth_ == 0;
    Branch* branch = nullptr;
    if (top) {
      if (out_.branch_count >= kMaxBranches) return false;
      branch = &out_.branches[out_.branch_count++];
      *branch = Branch{};
      branch->pure = true;
      run_ = Literal{static_cast<uint16_t>(out_.literal_count), 0};
      run_at_start_ = true;
    }
    int last = -1;
    auto link = [&](int node) {
      if (last < 0) {
        out_.nodes[alt].first = static_cast<uint16_t>(node);
      } else {
        out_.nodes[last].next = static_cast<uint16_t>(node);
      }
      last = node;
    };
    if (*p_ == '^') {
      const int node = new_node(NodeKind::kBegin);
      if (node < 0) return false;
      link(node);
      ++p_;
      if (top) {
        branch->at_start = true;
      } else {
        out_.inner_anchor = true;
        ++anchors_;
      }
    }
    bool start = true;  // where an expression starts
    *weight = 0;
    while (*p_ != '\0' && !at_escape('|') && !at_escape(')')) {
      if (*p_ == '$' && (p_[1] == '\0' || (p_[1] == '\\' && (p_[2] == '|' || p_[2] == ')')))) {
        const int node = new_node(NodeKind::kEnd);
        if (node < 0) return false;
        link(node);
        ++p_;
        if (top) {
          branch->at_end = true;
          branch->suffix = run_;
        } else {
          out_.inner_anchor = true;
          ++anchors_;
        }
        continue;  // the branch ends here
      }
      unsigned w = 0;
      const int node = expression(start, branch, &w);
      if (node < 0) return false;
      if (node > 0) link(node);
      *weight += w;
      start = false;
    }
    if (top) {
      const Literal run = run_;
      close_run(*branch);
      if (branch->pure) branch->whole = run;
    }
    return true;
  }

  // One atom and its repetitions. The node, 0 for an atom that is dropped
  // ("\{0\}"), -1 when the pattern leaves the subset.
  int expression(bool start, Branch* branch, unsigned* weight) {
    bool byte_in_run = false;
    int node = atom(start, branch, &byte_in_run, weight);
    if (node <= 0) return -1;
    bool repeated = false;
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
        if (!bounds(&min, &max)) return -1;
      } else {
        break;
      }
      if (*p_ == '*' || at_escape('{'))
        return -1;               // regcomp: "Invalid preceding regular expression"
      if (node == 0) return -1;  // a repetition of a dropped atom: not recognised
      if (byte_in_run) {         // the byte is no longer a fixed part of every match
        --out_.literal_count;
        --run_.length;
        byte_in_run = false;
      }
      if (branch != nullptr) {
        close_run(*branch);
        branch->pure = false;
      }
      Node& n = out_.nodes[node];
      const bool group = n.kind == NodeKind::kGroup;
      if (group && n.first != 0 && out_.nodes[n.first].next == 0 && out_.nodes[n.first].first == 0)
        return -1;  // a repetition of "\(\)": not recognised
      // Copies of anchors make regcomp's size grow steeply: not recognised.
      if (group && n.value != 0 && max > 1) return -1;
      const unsigned limit = group ? kMaxGroupBound : kMaxAtomBound;
      if ((max != kUnbounded && max > limit) || min > limit) return -1;
      if (repeated) {
        // A repetition of a repetition: the first one becomes a group of its own.
        const int alt = new_node(NodeKind::kAlt);
        const int wrap = new_node(NodeKind::kGroup);
        if (alt < 0 || wrap < 0) return -1;
        out_.nodes[alt].first = static_cast<uint16_t>(node);
        out_.nodes[wrap].first = static_cast<uint16_t>(alt);
        node = wrap;
      }
      Node& r = out_.nodes[node];
      r.min = static_cast<uint16_t>(min);
      r.max = static_cast<uint16_t>(max);
      const unsigned copies = max == kUnbounded ? min + 1 : max;
      *weight = *weight * copies + 2 * copies;
      if (*weight > kMaxWeight) return -1;
      repeated = true;
      if (max == 0) node = 0;  // "\{0\}" and "\{0,0\}" drop the atom
    }
    (void)byte_in_run;
    return node;
  }

  // "\{" has been read: "m\}", "m,\}", "m,n\}", ",n\}" or ",\}" with decimal
  // digits, m <= n.
  bool bounds(unsigned* min, unsigned* max) {
    auto number = [&](unsigned* value) {
      if (!is_digit(*p_)) return false;
      *value = 0;
      while (is_digit(*p_)) {
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

  int atom(bool start, Branch* branch, bool* byte_in_run, unsigned* weight) {
    *weight = 1;
    const unsigned char c = *p_;
    auto single = [&](unsigned char b) {
      const int node = new_node(NodeKind::kByte, b);
      if (node >= 0 && branch != nullptr) {
        run_byte(b);
        *byte_in_run = true;
      }
      return node;
    };
    auto other = [&](int node) {
      if (branch != nullptr) {
        close_run(*branch);
        branch->pure = false;
      }
      return node;
    };
    if (c == '\\') {
      const unsigned char e = p_[1];
      if (e == '\0') return -1;  // a trailing "\"
      if (e == '(') return other(group(weight));
      if (e == '{') return -1;  // where an expression starts
      p_ += 2;
      if (e >= '1' && e <= '9') {
        if ((closed_ & (1u << (e - '1'))) == 0) return -1;  // "Invalid back reference"
        out_.back_reference = true;
        return other(new_node(NodeKind::kAnyText));
      }
      if (e == 'w' || e == 'W' || e == 's' || e == 'S') {
        const int set = new_set();
        if (set < 0) return -1;
        const bool word = e == 'w' || e == 'W', negate = e == 'W' || e == 'S';
        for (unsigned b = 0; b < 256; ++b) {
          const bool member = word ? in_class("alnum", 5, static_cast<unsigned char>(b)) || b == '_'
                                   : in_class("space", 5, static_cast<unsigned char>(b));
          if (member != negate) add_byte(out_.sets[set], static_cast<unsigned char>(b));
        }
        return other(new_node(NodeKind::kSet, static_cast<uint8_t>(set)));
      }
      if (strchr("<>bB`'", e) != nullptr) return -1;  // word and buffer anchors: not recognised
      // "\+" and "\?" where an expression starts, "\}", and every other
      // escaped byte stand for the byte.
      (void)start;
      return single(e);
    }
    ++p_;
    if (c == '.') return other(new_node(NodeKind::kSet, 0));
    if (c == '[') {
      const int set = bracket();
      if (set < 0) return -1;
      return other(new_node(NodeKind::kSet, static_cast<uint8_t>(set)));
    }
    // "*" here starts an expression (after a repetition it was refused),
    // "^" and "$" that are not anchors, and every other byte.
    return single(c);
  }

  // "\(" at p_.
  int group(unsigned* weight) {
    p_ += 2;
    if (++depth_ > kMaxDepth) return -1;
    const unsigned number = ++groups_;
    const int node = new_node(NodeKind::kGroup);
    if (node < 0) return -1;
    unsigned inner = 0;
    const unsigned anchors_before = anchors_;
    if (!alternatives(static_cast<unsigned>(node), &inner)) return -1;
    out_.nodes[node].value = anchors_ != anchors_before ? 1 : 0;  // holds an anchor
    if (!at_escape(')')) return -1;                               // "Unmatched ( or \("
    p_ += 2;
    --depth_;
    if (number <= 9) closed_ |= 1u << (number - 1);
    *weight = inner + 2;
    return node;
  }

  // A bracket expression, "[" read: the index of its set, -1 when it is not
  // recognised (every error among them).
  int bracket() {
    const int index = new_set();
    if (index < 0) return -1;
    uint32_t* set = out_.sets[index];
    bool negate = false;
    if (*p_ == '^') {
      negate = true;
      ++p_;
    }
    for (bool first = true;; first = false) {
      const unsigned char c = *p_;
      if (c == '\0') return -1;  // "Unmatched ["
      if (c == ']' && !first) {
        ++p_;
        break;
      }
      if (c == '[' && p_[1] == ':') {
        const unsigned char* name = p_ + 2;
        const unsigned char* end = name;
        while (*end != '\0' && !(end[0] == ':' && end[1] == ']')) ++end;
        const size_t length = static_cast<size_t>(end - name);
        if (*end == '\0' || !known_class(reinterpret_cast<const char*>(name), length)) return -1;
        for (unsigned b = 0; b < 256; ++b)
          if (in_class(reinterpret_cast<const char*>(name), length, static_cast<unsigned char>(b)))
            add_byte(set, static_cast<unsigned char>(b));
        p_ = end + 2;
        if (p_[0] == '-' && p_[1] != ']') return -1;  // a class cannot start a range
        continue;
      }
      if (c == '[' && (p_[1] == '=' || p_[1] == '.')) {
        const unsigned char delimiter = p_[1], b = p_[2];
        if (b == '\0' || p_[3] != delimiter || p_[4] != ']') return -1;
        add_byte(set, b);
        p_ += 5;
        if (p_[0] == '-' && p_[1] != ']') return -1;  // not recognised as a range start
        continue;
      }
      // "-" stands for itself first or last; elsewhere it must end a range.
      if (c == '-' && !first && p_[1] != ']') return -1;
      ++p_;
      if (p_[0] == '-' && p_[1] != ']' && p_[1] != '\0') {
        const unsigned char last = p_[1];
        if (c == '-' || last == '[' || c > 0x7f || last > 0x7f || c > last) return -1;
        for (unsigned b = c; b <= last; ++b) add_byte(set, static_cast<unsigned char>(b));
        p_ += 2;
        continue;
      }
      add_byte(set, c);
    }
    if (negate)
      for (unsigned i = 0; i < 8; ++i) set[i] = ~set[i];
    return index;
  }
};

}  // namespace

bool parse(const char* pattern, Syntax& syntax) {
  if (strnlen(pattern, kMaxLength) >= kMaxLength) return false;
  return Parser(pattern, syntax).run();
}

}  // namespace pattern

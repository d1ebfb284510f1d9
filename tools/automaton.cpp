#include "automaton.h"

extern "C" {
#include <fa.h>
}

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace {

struct fa* checked(struct fa* automaton) {
  if (automaton == nullptr) throw std::runtime_error("the automata library ran out of memory");
  return automaton;
}

// Bytes that libfa's syntax gives a meaning of their own, outside brackets
// and as the ends of a bracket's range.
bool special_outside(unsigned c) {
  return std::strchr(".[](){}*+?|^$\\", static_cast<int>(c));
}
bool special_in_range(unsigned c) {
  return std::strchr("]^-\\[", static_cast<int>(c));
}

// The set in libfa's syntax: one alternative per run of bytes. libfa compares
// a range's ends as signed characters, so no range crosses from 127 to 128.
std::string set_syntax(const ByteSet& set) {
  std::string out;
  auto single = [&](unsigned c) {
    if (!out.empty()) out += '|';
    if (special_outside(c)) out += '\\';
    out += static_cast<char>(c);
  };
  for (unsigned lo = 1; lo < 256;) {
    if (!set[lo]) {
      ++lo;
      continue;
    }
    unsigned hi = lo;
    while (hi + 1 < 256 && set[hi + 1] && hi + 1 != 128) ++hi;
    const unsigned end = hi + 1;
    while (lo <= hi && special_in_range(lo)) single(lo++);
    while (hi >= lo && special_in_range(hi)) --hi;
    if (lo < hi) {
      if (!out.empty()) out += '|';
      out += '[';
      out += static_cast<char>(lo);
      out += '-';
      out += static_cast<char>(hi);
      out += ']';
    } else if (lo == hi) {
      single(lo);
    }
    for (unsigned c = hi + 1; c < end; ++c) single(c);
    lo = end;
  }
  return out;
}

}  // namespace

ByteSet bytes_of(const std::string& chars) {
  ByteSet set;
  for (unsigned char c : chars) set.set(c);
  set.reset(0);
  return set;
}

ByteSet all_bytes() {
  ByteSet set;
  set.set();
  set.reset(0);
  return set;
}

Language::Language(struct fa* automaton) : fa_(checked(automaton), fa_free) {}

Language Language::none() {
  return Language(fa_make_basic(FA_EMPTY));
}
Language Language::empty_word() {
  return Language(fa_make_basic(FA_EPSILON));
}
Language Language::anything() {
  return one_of(all_bytes()).many();
}

Language Language::one_of(const ByteSet& set) {
  // Languages are immutable: each set is compiled once.
  static std::unordered_map<ByteSet, Language> compiled;
  const auto known = compiled.find(set);
  if (known != compiled.end()) return known->second;
  const std::string syntax = set_syntax(set);
  if (syntax.empty()) return none();
  struct fa* automaton = nullptr;
  if (fa_compile(syntax.data(), syntax.size(), &automaton) != 0) {
    throw std::runtime_error("the automata library refused a byte set");
  }
  return compiled.emplace(set, Language(automaton)).first->second;
}

Language Language::mark() {
  // libfa's "." is every byte but the newline, NUL included.
  struct fa* dot = nullptr;
  if (fa_compile(".", 1, &dot) != 0) throw std::runtime_error("the automata library refused \".\"");
  return Language(dot).without(one_of(all_bytes()));
}

Language Language::text(const std::string& literal) {
  Language word = empty_word();
  for (char c : literal) word = word.then(one_of(bytes_of(std::string(1, c))));
  return word;
}

Language Language::then(const Language& next) const {
  return Language(fa_concat(fa_.get(), next.fa_.get()));
}
Language Language::either(const Language& other) const {
  return Language(fa_union(fa_.get(), other.fa_.get()));
}
Language Language::both(const Language& other) const {
  return Language(fa_intersect(fa_.get(), other.fa_.get()));
}
Language Language::without(const Language& other) const {
  return Language(fa_minus(fa_.get(), other.fa_.get()));
}
Language Language::repeat(int min, int max) const {
  return Language(fa_iter(fa_.get(), min, max));
}

Language Language::minimal() const {
  Language copy(fa_concat(fa_.get(), empty_word().fa_.get()));
  if (fa_minimize(copy.fa_.get()) != 0) throw std::runtime_error("cannot minimise an automaton");
  return copy;
}

bool Language::is_empty() const {
  return fa_is_basic(fa_.get(), FA_EMPTY) == 1;
}
bool Language::has_empty_word() const {
  // libfa keeps no empty transitions: the empty word is accepted exactly
  // when the initial state is.
  return fa_state_is_accepting(fa_state_initial(fa_.get()));
}
bool Language::within(const Language& other) const {
  const int r = fa_contains(fa_.get(), other.fa_.get());
  if (r < 0) throw std::runtime_error("the automata library failed to compare two languages");
  return r == 1;
}

namespace {

// The order in which a shortest word's characters are chosen: what reads
// best in a command line first.
int rank(unsigned c) {
  static const std::string kOrder =
      "abcdefghijklmnopqrstuvwxyz0123456789/.-_xyzABCDEFGHIJKLMNOPQRSTUVWXYZ ";
  const size_t at = kOrder.find(static_cast<char>(c));
  if (c == 0) return 1000;
  if (at != std::string::npos) return static_cast<int>(at);
  if (c > 32 && c < 127) return 100 + static_cast<int>(c);
  if (c == '\n' || c == '\t') return 300 + static_cast<int>(c);
  return 400 + static_cast<int>(c);
}

unsigned best_in(unsigned lo, unsigned hi) {
  unsigned best = lo;
  for (unsigned c = lo; c <= hi; ++c) {
    if (rank(c) < rank(best)) best = c;
  }
  return best;
}

}  // namespace

bool Language::shortest(std::string* word) const {
  // A minimal deterministic copy, walked from its start along a shortest
  // path to an accepting state.
  Language copy(fa_concat(fa_.get(), empty_word().fa_.get()));
  if (fa_minimize(copy.fa_.get()) != 0) throw std::runtime_error("cannot minimise an automaton");
  struct Edge {
    size_t to;
    unsigned lo, hi;
  };
  std::vector<struct state*> states;
  for (struct state* s = fa_state_initial(copy.fa_.get()); s != nullptr; s = fa_state_next(s)) {
    states.push_back(s);
  }
  auto index = [&](struct state* s) {
    for (size_t i = 0; i < states.size(); ++i) {
      if (states[i] == s) return i;
    }
    return states.size();
  };
  std::vector<std::vector<Edge>> edges(states.size());
  for (size_t i = 0; i < states.size(); ++i) {
    for (size_t t = 0; t < fa_state_num_trans(states[i]); ++t) {
      struct state* to = nullptr;
      unsigned char lo = 0, hi = 0;
      if (fa_state_trans(states[i], t, &to, &lo, &hi) != 0) continue;
      edges[i].push_back({index(to), lo, hi});
    }
  }
  // Distance of each state to acceptance, by relaxation (automata are small).
  const size_t kFar = static_cast<size_t>(-1);
  std::vector<size_t> far(states.size(), kFar);
  for (size_t i = 0; i < states.size(); ++i) {
    if (fa_state_is_accepting(states[i])) far[i] = 0;
  }
  for (bool changed = true; changed;) {
    changed = false;
    for (size_t i = 0; i < states.size(); ++i) {
      for (const Edge& e : edges[i]) {
        if (e.to < states.size() && far[e.to] != kFar && far[e.to] + 1 < far[i]) {
          far[i] = far[e.to] + 1;
          changed = true;
        }
      }
    }
  }
  if (states.empty() || far[0] == kFar) return false;
  word->clear();
  for (size_t at = 0; far[at] > 0;) {
    size_t next = 0;
    unsigned chosen = 0;
    for (const Edge& e : edges[at]) {
      if (e.to >= states.size() || far[e.to] + 1 != far[at]) continue;
      const unsigned c = best_in(e.lo, e.hi);
      if (chosen == 0 || rank(c) < rank(chosen)) {
        chosen = c;
        next = e.to;
      }
    }
    if (chosen != 0) *word += static_cast<char>(chosen);
    at = next;
  }
  return true;
}

void Language::fixed_ends(std::string* start, std::string* end) const {
  start->clear();
  end->clear();
  // Walked as it is: on an automaton that is not deterministic the walk
  // stops sooner, and the texts found are shorter but still shared by all.
  struct fa* automaton = fa_.get();
  if (is_empty()) return;
  // The start: along the states with a single way on, one byte.
  struct state* s = fa_state_initial(automaton);
  for (size_t steps = 0; s != nullptr && !fa_state_is_accepting(s) && steps < 4096; ++steps) {
    struct state* to = nullptr;
    unsigned char lo = 0, hi = 0;
    if (fa_state_num_trans(s) != 1 || fa_state_trans(s, 0, &to, &lo, &hi) != 0 || lo != hi) break;
    *start += static_cast<char>(lo);
    s = to;
  }
  // The end: backwards from the accepting states, as long as every
  // transition into the states reached is the same single byte and no word
  // ends there already.
  std::vector<struct state*> states;
  for (struct state* t = fa_state_initial(automaton); t != nullptr; t = fa_state_next(t)) {
    states.push_back(t);
  }
  std::unordered_map<struct state*, size_t> number;
  for (size_t i = 0; i < states.size(); ++i) number[states[i]] = i;
  std::vector<bool> in(states.size());
  for (size_t i = 0; i < states.size(); ++i) in[i] = fa_state_is_accepting(states[i]);
  std::string reversed;
  while (!in[0] && reversed.size() < 4096) {
    int byte = -1;
    std::vector<bool> from(states.size());
    bool one = true;
    for (size_t i = 0; i < states.size() && one; ++i) {
      for (size_t t = 0; t < fa_state_num_trans(states[i]) && one; ++t) {
        struct state* to = nullptr;
        unsigned char lo = 0, hi = 0;
        if (fa_state_trans(states[i], t, &to, &lo, &hi) != 0) continue;
        const auto j = number.find(to);
        if (j == number.end() || !in[j->second]) continue;
        if (lo != hi || (byte >= 0 && byte != lo)) one = false;
        byte = lo;
        from[i] = true;
      }
    }
    if (!one || byte < 0) break;
    reversed += static_cast<char>(byte);
    in = from;
  }
  end->assign(reversed.rbegin(), reversed.rend());
}

bool ends_may_meet(const std::string& start_a, const std::string& end_a, const std::string& start_b,
                   const std::string& end_b) {
  const size_t s = std::min(start_a.size(), start_b.size());
  const size_t e = std::min(end_a.size(), end_b.size());
  return start_a.compare(0, s, start_b, 0, s) == 0 &&
         end_a.compare(end_a.size() - e, e, end_b, end_b.size() - e, e) == 0;
}

// ---------------------------------------------------------------------------
// Reading a pattern as glibc's regcomp reads basic syntax without flags.

namespace {

struct Node {
  enum Kind { kEmpty, kSet, kStart, kEnd, kConcat, kAlt, kRepeat } kind = kEmpty;
  ByteSet set;            // kSet
  bool variable = false;  // kSet: a ".", a bracket or a class, not a literal byte
  int min = 0, max = 0;   // kRepeat; max -1 for no bound
  std::vector<Node> parts;
  bool anchors = false;      // holds a "^" or "$" that is an anchor
  bool line_anchor = false;  // kStart, kEnd: written "^" or "$" (not "\`" or "\'")
};

struct Unsupported {
  std::string why;
};

class Parser {
 public:
  explicit Parser(const std::string& p) : p_(p) {}

  Node parse() {
    Node n = alternatives(0);
    if (i_ != p_.size()) throw Unsupported{"an unmatched \\)"};
    placed(n, true, true);
    return n;
  }

 private:
  bool at(const char* s) const { return p_.compare(i_, std::strlen(s), s) == 0; }

  Node alternatives(int depth) {
    Node alt;
    alt.kind = Node::kAlt;
    for (;;) {
      alt.parts.push_back(branch(depth));
      if (at("\\|")) {
        i_ += 2;
        continue;
      }
      break;
    }
    for (const Node& n : alt.parts) alt.anchors = alt.anchors || n.anchors;
    return alt.parts.size() == 1 ? alt.parts[0] : alt;
  }

  Node branch(int depth) {
    Node seq;
    seq.kind = Node::kConcat;
    bool expression_start = true;  // where "*" stands for itself
    bool branch_start = true;      // where "^" is an anchor
    while (i_ < p_.size() && !at("\\|") && !at("\\)")) {
      Node atom;
      bool anchor = false;
      const char c = p_[i_];
      if (c == '^' && branch_start) {
        atom.kind = Node::kStart;
        atom.line_anchor = true;
        anchor = true;
        ++i_;
      } else if (c == '$' && (i_ + 1 == p_.size() || p_.compare(i_ + 1, 2, "\\)") == 0 ||
                              p_.compare(i_ + 1, 2, "\\|") == 0)) {
        atom.kind = Node::kEnd;
        atom.line_anchor = true;
        anchor = true;
        ++i_;
      } else if (expression_start && (c == '*' || at("\\+") || at("\\?"))) {
        i_ += c == '*' ? 1 : 2;
        atom = literal(c == '*' ? '*' : p_[i_ - 1]);
      } else if (expression_start && at("\\{")) {
        throw Unsupported{"an interval without anything to repeat"};
      } else if (c == '\\') {
        if (i_ + 1 >= p_.size()) throw Unsupported{"a trailing backslash"};
        const char d = p_[i_ + 1];
        i_ += 2;
        if (d == '(') {
          atom = alternatives(depth + 1);
          if (!at("\\)")) throw Unsupported{"an unmatched \\("};
          i_ += 2;
        } else if (d >= '1' && d <= '9') {
          throw Unsupported{"a back-reference (\\" + std::string(1, d) +
                            "), which no finite automaton can model"};
        } else if (d == 'w' || d == 'W') {
          atom = class_set(word_bytes(), d == 'W');
        } else if (d == 's' || d == 'S') {
          atom = class_set(bytes_of(" \t\n\v\f\r"), d == 'S');
        } else if (d == '`') {
          atom.kind = Node::kStart;
          anchor = true;
        } else if (d == '\'') {
          atom.kind = Node::kEnd;
          anchor = true;
        } else if (d == 'b' || d == 'B' || d == '<' || d == '>') {
          throw Unsupported{"a word boundary (\\" + std::string(1, d) + ")"};
        } else {
          atom = literal(d);
        }
      } else if (c == '.') {
        ++i_;
        atom = class_set(all_bytes(), false);
      } else if (c == '[') {
        atom = bracket();
      } else {
        ++i_;
        atom = literal(c);
      }
      branch_start = false;
      if (anchor) {
        atom.anchors = true;
        // An anchor takes no repetition: a "*" after it stands for itself.
        expression_start = true;
        seq.parts.push_back(atom);
        continue;
      }
      expression_start = false;
      seq.parts.push_back(postfix(atom));
    }
    for (const Node& n : seq.parts) seq.anchors = seq.anchors || n.anchors;
    if (seq.parts.empty()) return Node{};
    return seq.parts.size() == 1 ? seq.parts[0] : seq;
  }

  Node postfix(Node atom) {
    for (;;) {
      int min = 0, max = -1;
      if (at("*")) {
        i_ += 1;
      } else if (at("\\+")) {
        i_ += 2;
        min = 1;
      } else if (at("\\?")) {
        i_ += 2;
        max = 1;
      } else if (at("\\{")) {
        i_ += 2;
        interval(&min, &max);
      } else {
        return atom;
      }
      Node r;
      r.kind = Node::kRepeat;
      r.min = min;
      r.max = max;
      r.anchors = atom.anchors;
      r.parts.push_back(std::move(atom));
      atom = std::move(r);
    }
  }

  int number() {
    int n = 0;
    bool any = false;
    while (i_ < p_.size() && p_[i_] >= '0' && p_[i_] <= '9') {
      n = n * 10 + (p_[i_++] - '0');
      if (n > 0x7fff) throw Unsupported{"an interval beyond 32767"};
      any = true;
    }
    return any ? n : -1;
  }

  void interval(int* min, int* max) {
    const int lo = number();
    int hi = lo;
    if (i_ < p_.size() && p_[i_] == ',') {
      ++i_;
      hi = number();
    }
    if (!at("\\}") || (lo < 0 && hi < 0 && p_[i_ - 1] != ',')) {
      throw Unsupported{"an interval that is not read as one"};
    }
    i_ += 2;
    *min = lo < 0 ? 0 : lo;
    *max = hi;
    if (*max >= 0 && *max < *min) throw Unsupported{"an interval whose bounds are reversed"};
  }

  Node literal(char c) {
    Node n;
    n.kind = Node::kSet;
    n.set = bytes_of(std::string(1, c));
    return n;
  }

  Node class_set(const ByteSet& set, bool negated) {
    Node n;
    n.kind = Node::kSet;
    n.variable = true;
    n.set = negated ? all_bytes() & ~set : set;
    n.set.reset(0);
    return n;
  }

  static ByteSet word_bytes() {
    ByteSet set = range('a', 'z') | range('A', 'Z') | range('0', '9');
    set.set('_');
    return set;
  }
  static ByteSet range(unsigned lo, unsigned hi) {
    ByteSet set;
    for (unsigned c = lo; c <= hi; ++c) set.set(c);
    return set;
  }
  static bool named_class(const std::string& name, ByteSet* set) {
    const ByteSet upper = range('A', 'Z'), lower = range('a', 'z'), digit = range('0', '9');
    const ByteSet punct = range(33, 47) | range(58, 64) | range(91, 96) | range(123, 126);
    if (name == "alpha")
      *set = upper | lower;
    else if (name == "digit")
      *set = digit;
    else if (name == "alnum")
      *set = upper | lower | digit;
    else if (name == "upper")
      *set = upper;
    else if (name == "lower")
      *set = lower;
    else if (name == "space")
      *set = bytes_of(" \t\n\v\f\r");
    else if (name == "blank")
      *set = bytes_of(" \t");
    else if (name == "punct")
      *set = punct;
    else if (name == "print")
      *set = range(32, 126);
    else if (name == "graph")
      *set = range(33, 126);
    else if (name == "cntrl")
      *set = range(1, 31) | range(127, 127);
    else if (name == "xdigit")
      *set = digit | range('a', 'f') | range('A', 'F');
    else
      return false;
    return true;
  }

  // One element's byte inside a bracket: a byte, or "[.c.]" / "[=c=]" of one
  // byte. Returns -1 for a class "[:name:]", whose bytes go to *set.
  int bracket_element(ByteSet* set) {
    if (at("[.") || at("[=") || at("[:")) {
      const char kind = p_[i_ + 1];
      const size_t close = p_.find(std::string(1, kind) + "]", i_ + 2);
      if (close == std::string::npos) throw Unsupported{"an unterminated bracket element"};
      const std::string name = p_.substr(i_ + 2, close - i_ - 2);
      i_ = close + 2;
      if (kind == ':') {
        if (!named_class(name, set)) throw Unsupported{"an unknown class [:" + name + ":]"};
        return -1;
      }
      if (name.size() != 1) throw Unsupported{"a collating element of several bytes"};
      return static_cast<unsigned char>(name[0]);
    }
    return static_cast<unsigned char>(p_[i_++]);
  }

  Node bracket() {
    ++i_;  // "["
    bool negated = false;
    if (i_ < p_.size() && p_[i_] == '^') {
      negated = true;
      ++i_;
    }
    ByteSet set;
    bool first = true;
    for (;;) {
      if (i_ >= p_.size()) throw Unsupported{"an unterminated bracket"};
      if (p_[i_] == ']' && !first) {
        ++i_;
        break;
      }
      first = false;
      ByteSet cls;
      const int lo = bracket_element(&cls);
      if (lo < 0) {
        set |= cls;
        continue;
      }
      if (i_ + 1 < p_.size() && p_[i_] == '-' && p_[i_ + 1] != ']') {
        ++i_;
        const int hi = bracket_element(&cls);
        if (hi < 0 || hi < lo) throw Unsupported{"a range that is not one"};
        // In the C locale a range holds the bytes between its ends.
        set |= range(static_cast<unsigned>(lo), static_cast<unsigned>(hi));
      } else {
        set.set(static_cast<unsigned>(lo));
      }
    }
    return class_set(set, negated);
  }

  // glibc's matcher lets a "^" after a newline byte, and a "$" before one,
  // hold inside the text. Modelled are only the "^" that nothing can precede
  // and the "$" that nothing can follow, outside repetitions.
  static void placed(const Node& n, bool head, bool tail) {
    if (n.line_anchor && ((n.kind == Node::kStart && !head) || (n.kind == Node::kEnd && !tail))) {
      throw Unsupported{std::string("a \"") + (n.kind == Node::kStart ? '^' : '$') +
                        "\" anchor inside the pattern"};
    }
    for (size_t i = 0; i < n.parts.size(); ++i) {
      bool h = head, t = tail;
      if (n.kind == Node::kRepeat) h = t = false;
      if (n.kind == Node::kConcat) {
        for (size_t j = 0; j < i; ++j) h = h && n.parts[j].kind == Node::kStart;
        for (size_t j = i + 1; j < n.parts.size(); ++j) t = t && n.parts[j].kind == Node::kEnd;
      }
      placed(n.parts[i], h, t);
    }
  }

  const std::string& p_;
  size_t i_ = 0;
};

// The four languages of a node, by whether its match starts at the text's
// start ([1][.]) and ends at its end ([.][1]): what "^" and "$" inside it
// need. A node without anchors has one language for all four.
using Four = std::array<std::array<Language, 2>, 2>;

Four same(const Language& l) {
  return Four{{{l, l}, {l, l}}};
}

// Intersected with the non-empty texts (marks included) rather than with
// the complement of the empty word: no determinisation.
Language non_empty(const Language& l) {
  static const Language some = Language::mark().either(Language::one_of(all_bytes())).repeat(1, -1);
  return l.both(some);
}

class Builder {
 public:
  Builder(bool marked, const ByteSet& without)
      : mark_(marked ? Language::mark() : Language::empty_word()), without_(without) {}

  Four build(const Node& n) {
    switch (n.kind) {
      case Node::kEmpty:
        return same(Language::empty_word());
      case Node::kSet:
        return same(n.variable ? mark_.then(Language::one_of(n.set & ~without_))
                               : Language::one_of(n.set));
      case Node::kStart:
      case Node::kEnd: {
        Four f = same(Language::none());
        for (int a = 0; a < 2; ++a) {
          for (int b = 0; b < 2; ++b) {
            if ((n.kind == Node::kStart ? a : b) == 1) f[a][b] = Language::empty_word();
          }
        }
        return f;
      }
      case Node::kAlt: {
        Four f = build(n.parts[0]);
        for (size_t i = 1; i < n.parts.size(); ++i) {
          const Four g = build(n.parts[i]);
          for (int a = 0; a < 2; ++a) {
            for (int b = 0; b < 2; ++b) f[a][b] = f[a][b].either(g[a][b]);
          }
        }
        return f;
      }
      case Node::kConcat: {
        // Runs of parts without anchors are joined plainly first: the
        // four-way join, which costs determinisations, is needed only
        // where an anchor meets the rest.
        std::vector<Four> pieces;
        std::vector<bool> anchors;
        for (const Node& part : n.parts) {
          if (!part.anchors && !pieces.empty() && !anchors.back()) {
            pieces.back() = same(pieces.back()[0][0].then(build(part)[0][0]));
          } else {
            pieces.push_back(build(part));
            anchors.push_back(part.anchors);
          }
        }
        Four f = pieces[0];
        bool anchored = anchors[0];
        for (size_t i = 1; i < pieces.size(); ++i) {
          f = concat(f, pieces[i], anchored || anchors[i]);
          anchored = anchored || anchors[i];
        }
        return f;
      }
      case Node::kRepeat:
        return repeat(n);
    }
    return same(Language::none());
  }

  // x followed by y. The inner node meets the text's start only when all
  // before it matched nothing, and its end only when all after it did.
  static Four concat(const Four& x, const Four& y, bool anchored) {
    if (!anchored) return same(x[0][0].then(y[0][0]));
    Four f = same(Language::none());
    for (int a = 0; a < 2; ++a) {
      for (int b = 0; b < 2; ++b) {
        Language l = non_empty(x[a][0]).then(non_empty(y[0][b]));
        if (x[a][0].has_empty_word()) l = l.either(non_empty(y[a][b]));
        if (y[0][b].has_empty_word()) l = l.either(non_empty(x[a][b]));
        if (x[a][b].has_empty_word() && y[a][b].has_empty_word()) {
          l = l.either(Language::empty_word());
        }
        f[a][b] = l;
      }
    }
    return f;
  }

  Four repeat(const Node& n) {
    const Four x = build(n.parts[0]);
    if (!n.anchors) return same(x[0][0].repeat(n.min, n.max));
    // Anchors inside a repetition: the copies are written out.
    const int copies = n.max < 0 ? n.min : n.max;
    if (copies > 64) throw Unsupported{"an anchor repeated more than 64 times"};
    Four f = same(Language::empty_word());
    for (int i = 0; i < copies; ++i) {
      Four piece = x;
      if (i >= n.min) {
        for (auto& row : piece) {
          for (auto& l : row) l = l.either(Language::empty_word());
        }
      }
      f = concat(f, piece, true);
    }
    if (n.max < 0) f = concat(f, star(x), true);
    return f;
  }

  // x*: the empty word, or non-empty pieces of which only the first meets
  // the text's start and only the last its end.
  static Four star(const Four& x) {
    Four f = same(Language::none());
    const Language middle = non_empty(x[0][0]).many();
    for (int a = 0; a < 2; ++a) {
      for (int b = 0; b < 2; ++b) {
        f[a][b] = Language::empty_word()
                      .either(non_empty(x[a][b]))
                      .either(non_empty(x[a][0]).then(middle).then(non_empty(x[0][b])));
      }
    }
    return f;
  }

  const Language& mark() const { return mark_; }

 private:
  Language mark_;
  ByteSet without_;
};

}  // namespace

Translation translate_pattern(const std::string& pattern, bool marked,
                              const ByteSet& variable_without) {
  Translation t;
  try {
    Parser parser(pattern);
    const Node root = parser.parse();
    Builder builder(marked, variable_without);
    const Four f = builder.build(root);
    // The matcher searches: a match may start after any text and end before
    // any text; those ends are variable parts too.
    const Language pad =
        builder.mark().then(Language::one_of(all_bytes() & ~variable_without)).repeat(1, -1);
    t.language = f[1][1]
                     .either(f[1][0].then(pad))
                     .either(pad.then(f[0][1]))
                     .either(pad.then(f[0][0]).then(pad));
    t.analysed = true;
  } catch (const Unsupported& u) {
    t.why_not = u.why;
  }
  return t;
}

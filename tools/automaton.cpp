#include "automaton.h"

extern "C" {
#include <fa.h>
}

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "pattern_tree.h"

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
  for (unsigned lo = 1; lo < 256; ++lo) {
    if (!set[lo]) continue;
    unsigned hi = lo;
    while (hi + 1 < 256 && set[hi + 1] && hi + 1 != 128) ++hi;
    const unsigned last = hi;
    while (lo <= hi && special_in_range(lo)) single(lo++);
    while (hi >= lo && special_in_range(hi)) --hi;
    if (lo < hi) {
      if (!out.empty()) out += '|';
      out += {'[', static_cast<char>(lo), '-', static_cast<char>(hi), ']'};
    } else if (lo == hi) {
      single(lo);
    }
    for (unsigned c = hi + 1; c <= last; ++c) single(c);
    lo = last;
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
  return ~ByteSet(1);  // every bit but bit 0
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
      "abcdefghijklmnopqrstuvwxyz0123456789/.-_ABCDEFGHIJKLMNOPQRSTUVWXYZ ";
  const size_t at = kOrder.find(static_cast<char>(c));
  if (c == 0) return 1000;
  if (at != std::string::npos) return static_cast<int>(at);
  if (c > 32 && c < 127) return 100 + static_cast<int>(c);
  if (c == '\n' || c == '\t') return 300 + static_cast<int>(c);
  return 400 + static_cast<int>(c);
}

// An automaton's states, numbered in libfa's order (the initial state 0),
// with whether each accepts and its transitions.
struct Graph {
  struct Edge {
    size_t to;
    unsigned char lo, hi;
  };
  std::vector<bool> accepting;
  std::vector<std::vector<Edge>> edges;
};

Graph graph_of(struct fa* automaton) {
  std::vector<struct state*> states;
  std::unordered_map<struct state*, size_t> number;
  for (struct state* s = fa_state_initial(automaton); s != nullptr; s = fa_state_next(s)) {
    number[s] = states.size();
    states.push_back(s);
  }
  Graph g{std::vector<bool>(states.size()), std::vector<std::vector<Graph::Edge>>(states.size())};
  for (size_t i = 0; i < states.size(); ++i) {
    g.accepting[i] = fa_state_is_accepting(states[i]);
    for (size_t t = 0; t < fa_state_num_trans(states[i]); ++t) {
      struct state* to = nullptr;
      unsigned char lo = 0, hi = 0;
      if (fa_state_trans(states[i], t, &to, &lo, &hi) != 0) continue;
      const auto j = number.find(to);
      if (j != number.end()) g.edges[i].push_back({j->second, lo, hi});
    }
  }
  return g;
}

}  // namespace

bool Language::shortest(std::string* word) const {
  // Walked on the automaton as it is, not on a deterministic copy (which can
  // be exponentially larger): the states the chosen bytes reach, of those
  // that are on a shortest way to acceptance, step by step.
  const Graph g = graph_of(fa_.get());
  const size_t count = g.accepting.size();
  // Each state's distance to acceptance, breadth first backwards; count,
  // which no distance reaches, where there is none.
  std::vector<std::vector<size_t>> into(count);
  std::vector<size_t> far(count, count), queue;
  for (size_t i = 0; i < count; ++i) {
    for (const Graph::Edge& e : g.edges[i]) into[e.to].push_back(i);
    if (g.accepting[i]) {
      far[i] = 0;
      queue.push_back(i);
    }
  }
  for (size_t q = 0; q < queue.size(); ++q) {
    for (size_t from : into[queue[q]]) {
      if (far[from] != count) continue;
      far[from] = far[queue[q]] + 1;
      queue.push_back(from);
    }
  }
  if (count == 0 || far[0] == count) return false;
  word->clear();
  auto closer = [&](size_t i, const Graph::Edge& e) { return far[e.to] + 1 == far[i]; };
  for (std::vector<size_t> at{0}; far[at[0]] > 0;) {
    // The best-ranked byte of all that lead one step closer (a mark, 0,
    // ranks last), and the states it leads to one step closer.
    unsigned chosen = 0;
    for (size_t i : at) {
      for (const Graph::Edge& e : g.edges[i]) {
        for (unsigned c = e.lo; c <= e.hi && closer(i, e); ++c) {
          if (chosen == 0 || rank(c) < rank(chosen)) chosen = c;
        }
      }
    }
    std::vector<size_t> next;
    for (size_t i : at) {
      for (const Graph::Edge& e : g.edges[i]) {
        if (closer(i, e) && e.lo <= chosen && chosen <= e.hi) next.push_back(e.to);
      }
    }
    std::sort(next.begin(), next.end());
    next.erase(std::unique(next.begin(), next.end()), next.end());
    if (chosen != 0) *word += static_cast<char>(chosen);
    at = std::move(next);
  }
  return true;
}

void Language::fixed_ends(std::string* start, std::string* end) const {
  start->clear();
  end->clear();
  // Walked as it is: on an automaton that is not deterministic the walk
  // stops sooner, and the texts found are shorter but still shared by all.
  if (is_empty()) return;
  const Graph g = graph_of(fa_.get());
  // The start: along the states with a single way on, one byte.
  for (size_t at = 0; !g.accepting[at] && start->size() < 4096;) {
    if (g.edges[at].size() != 1 || g.edges[at][0].lo != g.edges[at][0].hi) break;
    *start += static_cast<char>(g.edges[at][0].lo);
    at = g.edges[at][0].to;
  }
  // The end: backwards from the accepting states, as long as every
  // transition into the states reached is the same single byte and no word
  // ends there already.
  std::vector<bool> in = g.accepting;
  while (!in[0] && end->size() < 4096) {
    int byte = -1;
    std::vector<bool> from(in.size());
    bool one = true;
    for (size_t i = 0; i < in.size() && one; ++i) {
      for (const Graph::Edge& e : g.edges[i]) {
        if (!in[e.to]) continue;
        if (e.lo != e.hi || (byte >= 0 && byte != e.lo)) one = false;
        byte = e.lo;
        from[i] = true;
      }
    }
    if (!one || byte < 0) break;
    end->insert(0, 1, static_cast<char>(byte));
    in = from;
  }
}

bool ends_may_meet(const std::string& start_a, const std::string& end_a, const std::string& start_b,
                   const std::string& end_b) {
  const size_t s = std::min(start_a.size(), start_b.size());
  const size_t e = std::min(end_a.size(), end_b.size());
  return start_a.compare(0, s, start_b, 0, s) == 0 &&
         end_a.compare(end_a.size() - e, e, end_b, end_b.size() - e, e) == 0;
}

// ---------------------------------------------------------------------------
// The language of a pattern, built from the gate's reading of it.

namespace {

using pattern::Node;
using pattern::NodeKind;

struct Unsupported {
  std::string why;
};

// The four languages of a node, by whether its match starts at the text's
// start ([1][.]) and ends at its end ([.][1]): what "^" and "$" inside it
// need. A node without anchors has one language for all four.
using Four = std::array<std::array<Language, 2>, 2>;

Four same(const Language& l) {
  return Four{{{l, l}, {l, l}}};
}

// The four languages that make(a, b) gives.
template <typename Make>
Four each_end(const Make& make) {
  return Four{{{make(0, 0), make(0, 1)}, {make(1, 0), make(1, 1)}}};
}

// Intersected with the non-empty texts (marks included) rather than with
// the complement of the empty word: no determinisation.
Language non_empty(const Language& l) {
  static const Language some = Language::mark().either(Language::one_of(all_bytes())).repeat(1, -1);
  return l.both(some);
}

bool repeated(const Node& n) {
  return (n.flags & pattern::kRepeated) != 0;
}

class Builder {
 public:
  // mark: what comes before each byte that a variable part supplies.
  Builder(const pattern::Syntax& s, const Language& mark, const ByteSet& without)
      : s_(s), mark_(mark), without_(without), anchors_(s.node_count, -1) {}

  // What the model cannot express, first in the pattern: a back-reference or
  // a word boundary; then a "^" that something may precede or a "$" that
  // something may follow (glibc lets those hold beside a newline inside the
  // text); modelled are only the ones outside repetitions at the ends.
  void check() const {
    for (unsigned i = 1; i < s_.node_count; ++i) {
      const Node& n = s_.nodes[i];
      const std::string written(1, static_cast<char>(n.value));
      if (n.kind == NodeKind::kBackReference)
        throw Unsupported{"a back-reference (\\" + written +
                          "), which no finite automaton can model"};
      if (n.kind == NodeKind::kWordAnchor) throw Unsupported{"a word boundary (\\" + written + ")"};
    }
    placed(s_.nodes[0], true, true);
  }

  // Every text in which the pattern finds a match, each end of the match in
  // or away from the text's ends.
  Four top() { return alternatives(s_.nodes[0].first); }

 private:
  const pattern::Syntax& s_;
  Language mark_;
  ByteSet without_;
  std::vector<int> anchors_;  // per node: holds an anchor (-1 not yet known)

  // The node that a group written around a single node stands for.
  const Node& unwrapped(const Node& n) const {
    if (n.kind != NodeKind::kGroup || repeated(n)) return n;
    const Node& alt = s_.nodes[n.first];
    if (alt.next != 0 || alt.first == 0 || s_.nodes[alt.first].next != 0) return n;
    return unwrapped(s_.nodes[alt.first]);
  }

  void placed(const Node& n, bool head, bool tail) const {
    if (n.value == 0 &&
        ((n.kind == NodeKind::kBegin && !head) || (n.kind == NodeKind::kEnd && !tail)))
      throw Unsupported{std::string("a \"") + (n.kind == NodeKind::kBegin ? '^' : '$') +
                        "\" anchor inside the pattern"};
    if (n.kind != NodeKind::kGroup) return;
    if (repeated(n)) head = tail = false;
    for (uint32_t alt = n.first; alt != 0; alt = s_.nodes[alt].next) {
      std::vector<const Node*> parts;
      for (uint32_t i = s_.nodes[alt].first; i != 0; i = s_.nodes[i].next)
        parts.push_back(&s_.nodes[i]);
      for (size_t i = 0; i < parts.size(); ++i) {
        bool h = head, t = tail;
        for (size_t j = 0; j < i; ++j) h = h && unwrapped(*parts[j]).kind == NodeKind::kBegin;
        for (size_t j = i + 1; j < parts.size(); ++j)
          t = t && unwrapped(*parts[j]).kind == NodeKind::kEnd;
        placed(*parts[i], h, t);
      }
    }
  }

  bool anchors(const Node& n) {
    int& known = anchors_[static_cast<size_t>(&n - s_.nodes)];
    if (known < 0) {
      known = n.kind == NodeKind::kBegin || n.kind == NodeKind::kEnd;
      if (n.kind == NodeKind::kGroup)
        for (uint32_t alt = n.first; alt != 0 && known == 0; alt = s_.nodes[alt].next)
          for (uint32_t i = s_.nodes[alt].first; i != 0 && known == 0; i = s_.nodes[i].next)
            known = anchors(s_.nodes[i]);
    }
    return known != 0;
  }

  Four alternatives(uint32_t alt) {
    Four f = sequence(s_.nodes[alt].first);
    for (alt = s_.nodes[alt].next; alt != 0; alt = s_.nodes[alt].next) {
      const Four g = sequence(s_.nodes[alt].first);
      f = each_end([&](int a, int b) { return f[a][b].either(g[a][b]); });
    }
    return f;
  }

  Four sequence(uint32_t i) {
    if (i == 0) return same(Language::empty_word());
    // Runs of parts without anchors are joined plainly first: the four-way
    // join, which costs determinisations, is needed only where an anchor
    // meets the rest; of two pieces in a row, one then holds an anchor.
    std::vector<Four> pieces;
    bool last_anchored = false;  // the last piece holds an anchor
    for (; i != 0; i = s_.nodes[i].next) {
      const Node& part = s_.nodes[i];
      const bool anchored = anchors(part);
      if (!anchored && !pieces.empty() && !last_anchored) {
        pieces.back() = same(pieces.back()[0][0].then(node(part)[0][0]));
      } else {
        pieces.push_back(node(part));
      }
      last_anchored = anchored;
    }
    Four f = pieces[0];
    for (size_t k = 1; k < pieces.size(); ++k) f = concat(f, pieces[k]);
    return f;
  }

  Four atom(const Node& n) {
    switch (n.kind) {
      case NodeKind::kString:
        return same(Language::text(
            std::string(reinterpret_cast<const char*>(s_.literals + n.first), n.length)));
      case NodeKind::kSet: {
        uint32_t bits[8];
        pattern::set_of(s_, n, bits);
        ByteSet set;
        for (unsigned c = 1; c < 256; ++c)
          set[c] = pattern::in_set(bits, static_cast<unsigned char>(c));
        return same(mark_.then(Language::one_of(set & ~without_)));
      }
      case NodeKind::kGroup:
        return alternatives(n.first);
      case NodeKind::kBegin:
      case NodeKind::kEnd: {
        // The empty text, where the match starts at the text's start ("^")
        // or ends at its end ("$"); nothing elsewhere.
        const Language e = Language::empty_word(), x = Language::none();
        return n.kind == NodeKind::kBegin ? Four{{{x, x}, {e, e}}} : Four{{{x, e}, {x, e}}};
      }
      default:  // refused by check()
        return same(Language::none());
    }
  }

  // x followed by y, as an anchor in either needs it: the inner node meets
  // the text's start only when all before it matched nothing, and its end
  // only when all after it did.
  static Four concat(const Four& x, const Four& y) {
    return each_end([&](int a, int b) {
      Language l = non_empty(x[a][0]).then(non_empty(y[0][b]));
      if (x[a][0].has_empty_word()) l = l.either(non_empty(y[a][b]));
      if (y[0][b].has_empty_word()) l = l.either(non_empty(x[a][b]));
      if (x[a][b].has_empty_word() && y[a][b].has_empty_word()) {
        l = l.either(Language::empty_word());
      }
      return l;
    });
  }

  // A node with its repetition.
  Four node(const Node& n) {
    Four x = atom(n);
    if (!repeated(n)) return x;
    const int min = n.min, max = n.max == pattern::kUnbounded ? -1 : n.max;
    if (!anchors(n)) return same(x[0][0].repeat(min, max));
    // Anchors inside a repetition: the copies are written out.
    const int copies = max < 0 ? min : max;
    if (copies > 64) throw Unsupported{"an anchor repeated more than 64 times"};
    const Four optional =
        each_end([&](int a, int b) { return x[a][b].either(Language::empty_word()); });
    Four f = same(Language::empty_word());
    for (int i = 0; i < copies; ++i) f = concat(f, i < min ? x : optional);
    if (max < 0) f = concat(f, star(x));
    return f;
  }

  // x*: the empty word, or non-empty pieces of which only the first meets
  // the text's start and only the last its end.
  static Four star(const Four& x) {
    const Language middle = non_empty(x[0][0]).many();
    return each_end([&](int a, int b) {
      return Language::empty_word()
          .either(non_empty(x[a][b]))
          .either(non_empty(x[a][0]).then(middle).then(non_empty(x[0][b])));
    });
  }
};

}  // namespace

Translation translate_pattern(const std::string& pattern, bool marked,
                              const ByteSet& variable_without) {
  Translation t;
  try {
    const PatternTree tree(pattern);
    if (!tree.read()) throw Unsupported{tree.why_not()};
    const Language mark = marked ? Language::mark() : Language::empty_word();
    Builder builder(tree.syntax(), mark, variable_without);
    builder.check();
    const Four f = builder.top();
    // The matcher searches: a match may start after any text and end before
    // any text; those ends are variable parts too.
    const Language pad = mark.then(Language::one_of(all_bytes() & ~variable_without)).repeat(1, -1);
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

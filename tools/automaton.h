// Exact models of white-list patterns as finite automata (libfa), for the
// policy tool alone: the set of command lines that the gate's matcher
// accepts for a pattern, as a language over the bytes 1 to 255.
#pragma once

#include <bitset>
#include <memory>
#include <string>

struct fa;

// A set of bytes; bit 0 (NUL, which never reaches the matcher) is ignored.
using ByteSet = std::bitset<256>;

ByteSet bytes_of(const std::string& chars);
ByteSet all_bytes();  // 1 to 255

// A regular language, immutable. Operations throw std::runtime_error when
// libfa fails (out of memory).
class Language {
 public:
  static Language none();
  static Language empty_word();
  static Language anything();  // every text of bytes 1 to 255
  static Language one_of(const ByteSet& set);
  static Language text(const std::string& literal);
  // The mark that a marked translation puts before each byte that a
  // variable part supplies: NUL, which no command line holds.
  static Language mark();

  Language then(const Language& next) const;
  Language either(const Language& other) const;
  Language both(const Language& other) const;
  Language without(const Language& other) const;
  Language repeat(int min, int max) const;  // max -1: no bound
  Language optional() const { return repeat(0, 1); }
  Language many() const { return repeat(0, -1); }

  // The same language as a minimal deterministic automaton: cheaper to
  // intersect again and again.
  Language minimal() const;

  bool is_empty() const;
  bool has_empty_word() const;
  bool within(const Language& other) const;  // every word of this is in other
  // A shortest word, readable characters first, marks removed; false when
  // there is none.
  bool shortest(std::string* word) const;
  // The text that every word begins with, and the text that every word ends
  // with (empty when the words share none). Two languages whose starts are
  // not one a prefix of the other, or whose ends are not one a suffix of
  // the other, have no word in common: a cheap test before an exact one.
  // Longest on a minimal automaton.
  void fixed_ends(std::string* start, std::string* end) const;

 private:
  explicit Language(struct fa* automaton);
  std::shared_ptr<struct fa> fa_;
};

// Whether languages whose fixed_ends are (start_a, end_a) and (start_b,
// end_b) can have a word in common: one start begins the other, and one end
// ends the other.
bool ends_may_meet(const std::string& start_a, const std::string& end_a, const std::string& start_b,
                   const std::string& end_b);

// The language that the gate's matcher gives a pattern: every text in which
// it finds a match (glibc's basic syntax, no flags, C locale, searched
// anywhere unless anchored; "." and negated brackets match a newline).
// Marked, every byte that a variable part supplies ("." , a bracket,
// \w \W \s \S, and the text before and after an unanchored match) follows a
// mark (Language::mark), so that a risk can tell the pattern's fixed text
// from what the caller chooses. With variable_without, every variable part
// loses those bytes: the texts in which no variable part supplies one.
struct Translation {
  bool analysed = false;
  std::string why_not;  // when not analysed: what the model cannot express
  Language language = Language::none();
};
Translation translate_pattern(const std::string& pattern, bool marked = false,
                              const ByteSet& variable_without = {});

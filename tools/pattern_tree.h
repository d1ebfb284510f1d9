// A white-list pattern read by the gate's own reader (pattern_syntax.h), in
// storage that grows with the pattern and under glibc's limits rather than
// the gate's: the tool's exact model and its pattern shape are built from
// this tree.
#pragma once

#include <string>
#include <vector>

#include "pattern_syntax.h"

class PatternTree {
 public:
  explicit PatternTree(const std::string& pattern);
  PatternTree(const PatternTree&) = delete;
  PatternTree& operator=(const PatternTree&) = delete;

  bool read() const { return read_; }
  const std::string& why_not() const { return why_not_; }  // when not read
  const pattern::Syntax& syntax() const { return syntax_; }

 private:
  const std::string pattern_;
  std::vector<pattern::Node> nodes_;
  std::vector<pattern::Branch> branches_;
  std::vector<unsigned char> literals_;
  pattern::Syntax syntax_{};
  bool read_ = false;
  std::string why_not_;
};

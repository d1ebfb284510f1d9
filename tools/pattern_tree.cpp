#include "pattern_tree.h"

namespace {

// Repetitions up to glibc's RE_DUP_MAX, and no bound on the copies; groups
// nested no deeper than the tool's recursion over the tree safely goes.
constexpr pattern::Limits kToolLimits{0x7fff, 0x7fff, ~uint64_t{0}, 1024, ~size_t{0}};

}  // namespace

PatternTree::PatternTree(const std::string& pattern) : pattern_(pattern) {
  // A node or two per byte of the pattern is the most a reading makes; the
  // space doubles for as long as it does not suffice.
  for (size_t space = 2 * pattern_.size() + 4;; space *= 2) {
    nodes_.resize(space);
    branches_.resize(space);
    literals_.resize(space);
    syntax_.nodes = nodes_.data();
    syntax_.node_space = nodes_.size();
    syntax_.branches = branches_.data();
    syntax_.branch_space = branches_.size();
    syntax_.literals = literals_.data();
    syntax_.literal_space = literals_.size();
    const char* why = "";
    const pattern::Reading reading = pattern::read(pattern_.c_str(), kToolLimits, syntax_, &why);
    if (reading == pattern::Reading::kOutOfSpace) continue;
    read_ = reading == pattern::Reading::kRead;
    if (!read_) why_not_ = why;
    return;
  }
}

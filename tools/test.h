// "corvexin_policy test": decides a table of commands with the gate's own
// decision code and compares each verdict with the one the table expects;
// with coverage, tells how many cases matched each white-list entry.
#pragma once

#include <string>
#include <vector>

struct TestOptions {
  std::string policy;                   // policy file
  std::vector<std::string> case_files;  // JSON arrays of cases
  bool json = false;
  bool coverage = false;
};

// 0 every case passed, 1 some case failed, 2 a file cannot be read or a
// case file has a wrong shape (then no case is decided).
int test_command(const TestOptions& options);

// What a white-list entry depends on outside the policy: the programs, files
// and directories its pattern names, judged on the machine the tool runs on.
// A check of the machine's state, beside the risks of the pattern's language.
#pragma once

#include <sys/stat.h>

#include <string>
#include <vector>

struct MachineFinding {
  std::string code;     // "writable-path"
  std::string message;  // what can be changed and by whom, after the quoted pattern
  std::string example;  // a command line that the gate allows and that uses the path, or empty
};

// For an entry whose command lines the gate gives to the shell as root: each
// named path, its nearest existing part and every directory above it, and
// for a program without a directory every directory of the gate's PATH up
// to the one that holds it, when an account other than root can change it.
std::vector<MachineFinding> machine_findings(const std::string& pattern);

// Who other than root can change a file or directory of this status, by
// name ("the account www-data, its owner", "the group staff", "every
// account"); empty when root alone can.
std::string writers_other_than_root(const struct stat& st);

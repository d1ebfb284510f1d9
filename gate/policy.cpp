#include <json/reader.h>

#include <cstdio>
#include <fstream>

#include "gate.h"

// The classic reader is the one whose rules (comments, any root value, text
// after the value ignored) the policy files are written for; newer jsoncpp
// releases mark it deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

Json::Value root;
Json::Value group_role;
int enable_log = 0;

namespace {

// Parses the policy stream. The stream buffer throws when reading fails (the
// path is a directory, an I/O error); such a file counts as unreadable, which
// the reader sees as an empty document.
bool parse_policy(Json::Reader& reader, std::istream& in) {
  try {
    return reader.parse(in, root, false);
  } catch (const std::ios_base::failure&) {
    return reader.parse(std::string(), root, false);
  }
}

}  // namespace

// Loads a policy file into root with the classic reader. A missing or
// unreadable file reaches the reader as an empty document and fails like a
// syntax error; the reader's messages go to standard output.
int read_policy_file(const char* path) {
  std::ifstream in(path, std::ios::in | std::ios::binary);
  Json::Reader reader;
  if (!parse_policy(reader, in)) {
    fputs("Failed to parse configuration\n", stdout);
    fputs(reader.getFormattedErrorMessages().c_str(), stdout);
    return 1;
  }
  enable_log = root.get("enable_log", 0).asInt();
  return 0;
}

#pragma GCC diagnostic pop

int read_json_file() { return read_policy_file(kPolicyPath); }

#include <json/reader.h>

#include <cstdio>
#include <fstream>

#include "gate.h"

Json::Value root;
Json::Value group_role;
int enable_log = 0;

// Loads the policy with the classic reader (comments allowed, any value as the
// root). A missing or unreadable file reaches the reader as an empty document
// and fails like a syntax error.
int read_json_file() {
  std::ifstream in(kPolicyPath, std::ios::in | std::ios::binary);
  Json::Reader reader;
  if (!reader.parse(in, root, false)) {
    fputs("Failed to parse configuration\n", stdout);
    fputs(reader.getFormattedErrorMessages().c_str(), stdout);
    return 1;
  }
  enable_log = root.get("enable_log", 0).asInt();
  return 0;
}

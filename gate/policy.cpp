#include <json/reader.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "gate.h"

// The classic reader is the one whose rules (comments, any root value, text
// after the value ignored) the policy files are written for; newer jsoncpp
// releases mark it deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

Json::Value root;
Json::Value group_role;
int enable_log = 0;

// The whole file, as the reader would take it from the stream. The stream
// buffer throws when reading fails (the path is a directory, an I/O error);
// such a file counts as unreadable, which the reader sees as an empty document.
std::string read_policy_text(const char* path) {
  std::ifstream in(path, std::ios::in | std::ios::binary);
  try {
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::ios_base::failure&) {
    return std::string();
  }
}

bool parse_policy_text(const std::string& text, Json::Value& value, std::string* formatted,
                       std::vector<PolicyError>* errors) {
  Json::Reader reader;
  if (reader.parse(text.data(), text.data() + text.size(), value, false)) return true;
  if (formatted != nullptr) *formatted = reader.getFormattedErrorMessages();
  if (errors != nullptr) {
    for (const auto& e : reader.getStructuredErrors()) {
      errors->push_back({static_cast<size_t>(e.offset_start), e.message});
    }
  }
  return false;
}

#pragma GCC diagnostic pop

namespace {

// The reader's messages name places (line, column) and never quote the
// document, except a number that it cannot convert: "'1e999' is not a
// number.". The policy may be readable by root alone, so a caller that
// started the gate set-uid is shown such a message without the number.
std::string messages_for_caller(std::string text) {
  static const std::string kNotANumber = "' is not a number.";
  if (!started_with_privilege()) return text;
  for (size_t end = text.find(kNotANumber); end != std::string::npos;
       end = text.find(kNotANumber, end + 1)) {
    const size_t start = text.rfind('\'', end - 1);
    if (start == std::string::npos) break;
    text.replace(start + 1, end - start - 1, "...");
    end = start + 4;
  }
  return text;
}

}  // namespace

// Loads a policy file into root with the classic reader. A missing or
// unreadable file reaches the reader as an empty document and fails like a
// syntax error; the reader's messages go to standard output.
int read_policy_file(const char* path) {
  std::string messages;
  if (!parse_policy_text(read_policy_text(path), root, &messages, nullptr)) {
    fputs("Failed to parse configuration\n", stdout);
    fputs(messages_for_caller(messages).c_str(), stdout);
    return 1;
  }
  enable_log = root.get("enable_log", 0).asInt();
  return 0;
}

int read_json_file() { return read_policy_file(kPolicyPath); }

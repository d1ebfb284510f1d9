#include <fcntl.h>
#include <json/reader.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>

#include "gate.h"

// The classic reader is the one whose rules (comments, any root value) the
// policy files are written for; newer jsoncpp releases mark it deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

Json::Value root;
Json::Value group_role;
int enable_log = 0;
int syslog_records = 1;

namespace {

constexpr char kExtraText[] = "Extra non-whitespace after JSON value.";

}  // namespace

// The reader itself would ignore whatever follows its value: a stray "}"
// would end a policy early and drop the rest of it unseen. Comments end as
// the reader ends them: a line comment at "\r" or "\n".
size_t skip_blanks_and_comments(const std::string& text, size_t i) {
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (text.compare(i, 2, "//") == 0) {
      i = std::min(text.find_first_of("\r\n", i), text.size());
    } else if (text.compare(i, 2, "/*") == 0) {
      const size_t end = text.find("*/", i + 2);
      if (end == std::string::npos) return i;  // a comment left open
      i = end + 2;
    } else {
      return i;
    }
  }
  return text.size();
}

void line_and_column(const std::string& text, size_t offset, size_t* line, size_t* column) {
  size_t lines = 1, line_start = 0;
  for (size_t i = 0; i < offset && i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
    if (text[i] == '\r' || text[i] == '\n') {
      ++lines;
      line_start = i + 1;
    }
  }
  *line = lines;
  *column = offset - line_start + 1;
}

bool parse_document(const std::string& text, Json::Value& value, bool collect_comments,
                    std::string* formatted, std::vector<PolicyError>* errors) {
  Json::Reader reader;
  Json::Value parsed;
  if (!reader.parse(text.data(), text.data() + text.size(), parsed, collect_comments)) {
    if (formatted != nullptr) *formatted = reader.getFormattedErrorMessages();
    if (errors != nullptr) {
      for (const auto& e : reader.getStructuredErrors())
        errors->push_back({static_cast<size_t>(e.offset_start), e.message});
    }
    return false;
  }
  const size_t extra = skip_blanks_and_comments(text, static_cast<size_t>(parsed.getOffsetLimit()));
  if (extra < text.size()) {
    if (formatted != nullptr) {
      size_t line = 0, column = 0;
      line_and_column(text, extra, &line, &column);
      *formatted = "* Line " + std::to_string(line) + ", Column " + std::to_string(column) +
                   "\n  " + kExtraText + "\n";
    }
    if (errors != nullptr) errors->push_back({extra, kExtraText});
    return false;
  }
  value.swap(parsed);
  return true;
}

#pragma GCC diagnostic pop

const char* policy_distrust(const struct stat& st) {
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  if (st.st_uid != 0) return "is not owned by root";
  if (st.st_mode & S_IWOTH) return "is writable by others";
  if ((st.st_mode & S_IWGRP) && st.st_gid != 0) return "is writable by a group other than root";
  return nullptr;
}

// The whole file in one read, through one descriptor; empty when it cannot be
// opened or read, which the reader sees as an empty document. Opening never
// blocks (a FIFO in the policy's place). With trusted_only, a file that
// someone other than root can change counts as unreadable.
std::string read_policy_text(const char* path, bool trusted_only) {
  std::string text;
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return text;
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    close(fd);
    return text;
  }
  if (const char* why = trusted_only ? policy_distrust(st) : nullptr) {
    fprintf(stderr, "corvexin_check: %s %s: not used\n", path, why);
    close(fd);
    return text;
  }
  // One byte more than the file's size, so that the read after the whole
  // file finds its end; a file that grows meanwhile is read on.
  size_t have = 0;
  text.resize(st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096);
  while (true) {
    if (have == text.size()) text.resize(text.size() * 2);
    const ssize_t n = read(fd, &text[have], text.size() - have);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) have = 0;  // a directory, an I/O error: unreadable
    if (n <= 0) break;
    have += static_cast<size_t>(n);
  }
  close(fd);
  text.resize(have);
  return text;
}

bool parse_policy_text(const std::string& text, Json::Value& value, std::string* formatted,
                       std::vector<PolicyError>* errors) {
  return parse_document(text, value, false, formatted, errors);
}

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

// Loads a policy file into root with the classic reader. A missing,
// unreadable or (with trusted_only) untrusted file reaches the reader as an
// empty document and fails like a syntax error; the reader's messages go to
// standard output.
int read_policy_file(const char* path, bool trusted_only) {
  std::string messages;
  if (!parse_policy_text(read_policy_text(path, trusted_only), root, &messages, nullptr)) {
    fputs("Failed to parse configuration\n", stdout);
    fputs(messages_for_caller(messages).c_str(), stdout);
    return 1;
  }
  enable_log = policy_log_switch(root);
  syslog_records = policy_syslog_switch(root);
  return 0;
}

int policy_log_switch(const Json::Value& policy) { return policy.get("enable_log", 0).asInt(); }

int policy_syslog_switch(const Json::Value& policy) { return policy.get("syslog", 1).asInt(); }

int read_json_file() { return read_policy_file(kPolicyPath, true); }

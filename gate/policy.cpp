#include "policy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "json_document.h"
#include "vocabulary.h"

Json::Value root;
Json::Value group_role;
int enable_log = 0;
int syslog_records = 1;

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
// someone other than root can change counts as unreadable, and why a file is
// not used is said on standard error: the reader's complaint about an empty
// document would not tell.
std::string read_policy_text(const char* path, bool trusted_only) {
  std::string text;
  const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (trusted_only)
      fprintf(stderr, "corvexin_check: cannot open %s: %s\n", path, strerror(errno));
    return text;
  }
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

namespace {

// The reader's messages name places (line, column) and never quote the
// document, except a number that it cannot convert: "'1e999' is not a
// number.". The policy may be readable by root alone, so a caller that
// started the gate set-uid (privileged) is shown such a message without the
// number.
std::string messages_for_caller(std::string text, bool privileged) {
  static const std::string kNotANumber = "' is not a number.";
  if (!privileged) return text;
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
int read_policy_file(const char* path, bool trusted_only, bool privileged) {
  std::string messages;
  if (!parse_policy_text(read_policy_text(path, trusted_only), root, &messages, nullptr)) {
    fputs("Failed to parse configuration\n", stdout);
    fputs(messages_for_caller(messages, privileged).c_str(), stdout);
    return 1;
  }
  enable_log = policy_log_switch(root);
  syslog_records = policy_syslog_switch(root);
  return 0;
}

int policy_log_switch(const Json::Value& policy) {
  return policy.get(kEnableLogMember, 0).asInt();
}

int policy_syslog_switch(const Json::Value& policy) {
  return policy.get(kSyslogMember, 1).asInt();
}

int read_json_file(bool privileged) {
  return read_policy_file(kPolicyPath, true, privileged);
}

const Json::Value* service_user_rule(const Json::Value& policy) {
  if (!policy.isObject()) return nullptr;
  return policy.find(kServiceUserMember, kServiceUserMember + sizeof kServiceUserMember - 1);
}

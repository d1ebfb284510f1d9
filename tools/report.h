// Findings of "corvexin_policy check" and their output, as text for people
// or as JSON for tools.
#pragma once

#include <json/value.h>

#include <iostream>
#include <string>
#include <vector>

#include "findings.h"
#include "risks.h"

struct Finding {
  Severity severity;
  std::string code;  // stable name of the finding class, e.g. "not-anchored"
  std::string path;  // JSON path in the policy ("$.ui_section"), or empty
  std::string file;  // the file the finding is about
  long line = 0;     // place in the policy file, 0 when unknown
  long column = 0;
  std::string message;
  std::string example;  // a command line that shows the finding, or empty
};

class Report {
 public:
  // text: the policy file's bytes, to turn the reader's offsets into lines.
  Report(std::string file, std::string text) : file_(std::move(file)), text_(std::move(text)) {}

  // A finding about the value at a JSON path of the policy. at is the value
  // (or, for a missing member, its object) whose place in the file is given.
  // Each takes the finding's severity from its class (findings.h).
  // example: a command line that the gate allows and that shows the finding.
  void add(const std::string& code, const std::string& path, const Json::Value& at,
           const std::string& message, const std::string& example = "");
  // A finding at a byte offset of the policy file, at a JSON path if known.
  void add_at(const std::string& code, size_t offset, const std::string& message,
              const std::string& path = "");
  // A finding about another file or directory.
  void add_file(const std::string& code, const std::string& file, const std::string& message);

  const std::string& file() const { return file_; }
  int count(Severity severity) const;
  // 0 no finding, 1 warnings only, 2 errors.
  int status() const;
  void print_text(std::ostream& out = std::cout) const;
  void print_json() const;
  // What print_json prints.
  Json::Value json() const;

 private:
  void place(Finding& f, size_t offset) const;
  // The findings by their place: those about the whole file, then those at
  // a line in the order of the file, then those about other files; each
  // group in the order found.
  std::vector<Finding> ordered() const;
  std::string file_;
  std::string text_;
  std::vector<Finding> findings_;
};

// The version of the layout of the tool's JSON documents, their "format"
// member; corvexin_policy(8) lists their members.
constexpr int kJsonFormat = 1;
// The JSON document of "check": the reports of one or more files together.
Json::Value reports_json(const std::vector<Report>& reports);

// "$.a.b[2]" style paths; names that are not plain words are quoted.
std::string member_path(const std::string& parent, const std::string& name);
std::string index_path(const std::string& parent, unsigned index);
// "$.SECTION.white_cmd_list[INDEX]": a white-list entry of a policy section.
std::string entry_path(const std::string& section, unsigned index);
// "an array", "a string", ... for messages.
std::string type_name(const Json::Value& value);
// Text with control characters escaped, quoted: for patterns in messages.
std::string quoted(const std::string& text);

// A risk's message, after the quoted pattern: what the entry admits,
// "through" the part of the pattern that admits it (quoted), and why it
// matters.
std::string risk_message(const RiskFinding& finding);
// Prints value on standard output, indented, and a line end.
void print_json(const Json::Value& value);
// Of the known names, the first that name may be a misspelling of (a few
// letters off); empty when there is none.
std::string similar_name(const std::string& name, const std::vector<std::string>& known);
// Why the file at path cannot be read at all ("is a directory", "cannot be
// opened: ..."); empty when it can.
std::string unreadable(const std::string& path);
// Why the gate's reading of a policy file (read_policy_text) would find no
// text through the file's fault: it cannot be opened, it is a directory or,
// with trusted_only, the gate does not use it ("is writable by others: not
// used"); empty otherwise. Opened as the gate opens it: a FIFO never blocks.
std::string policy_unread(const std::string& path, bool trusted_only);
// The same, reading the whole file into text in the same pass (a read error
// leaves what was read).
std::string read_file(const std::string& path, std::string* text);

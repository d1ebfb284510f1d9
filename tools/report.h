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
  // A finding at a byte offset of the policy file (placed at no line when
  // the offset is past its end), at a JSON path if known.
  void add_at(const std::string& code, size_t offset, const std::string& message,
              const std::string& path = "");
  // A finding about another file or directory.
  void add_file(const std::string& code, const std::string& file, const std::string& message);

  const std::string& file() const { return file_; }
  int count(Severity severity) const;
  // 0 no finding, 1 warnings only, 2 errors.
  int status() const;
  void print_text(std::ostream& out = std::cout) const;
  // The file's findings, totals and status as JSON.
  Json::Value json() const;

 private:
  std::string file_;
  std::string text_;
  std::vector<Finding> findings_;
};

// The version of the layout of the tool's JSON documents, their "format"
// member; corvexin_policy(8) lists their members.
constexpr int kJsonFormat = 1;
// The JSON document of "check": the reports of one or more files together.
Json::Value reports_json(const std::vector<Report>& reports);

// A risk's message, after the quoted pattern: what the entry admits,
// "through" the part of the pattern that admits it (quoted), and why it
// matters.
std::string risk_message(const RiskFinding& finding);

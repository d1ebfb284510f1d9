// Findings of "corvexin_policy check" and their output, as text for people
// or as JSON for tools.
#pragma once

#include <json/value.h>

#include <iostream>
#include <string>
#include <vector>

#include "findings.h"
#include "risks.h"

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
  // A finding about a file or directory as a whole: another one, or the
  // policy file where no place in it is known.
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
  std::vector<Json::Value> findings_;  // each as json() lists it, in the order found
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

#include "report.h"

#include <algorithm>
#include <tuple>

#include "json_document.h"
#include "json_text.h"

void Report::add(const std::string& code, const std::string& path, const Json::Value& at,
                 const std::string& message, const std::string& example) {
  const ptrdiff_t offset = at.getOffsetStart();
  const bool placed = offset > 0 || (offset == 0 && at.getOffsetLimit() > 0);
  add_at(code, placed ? static_cast<size_t>(offset) : std::string::npos, message, path);
  if (!example.empty()) findings_.back()["example"] = example;
}

void Report::add_at(const std::string& code, size_t offset, const std::string& message,
                    const std::string& path) {
  add_file(code, file_, message);
  Json::Value& f = findings_.back();
  if (!path.empty()) f["path"] = path;
  if (offset > text_.size()) return;
  size_t line = 0, column = 0;
  line_and_column(text_, offset, &line, &column);
  f["line"] = static_cast<Json::Int64>(line);
  f["column"] = static_cast<Json::Int64>(column);
}

void Report::add_file(const std::string& code, const std::string& file,
                      const std::string& message) {
  Json::Value& f = findings_.emplace_back(Json::objectValue);
  f["severity"] = severity_name(finding_class(code).severity);
  f["code"] = code;
  f["file"] = file;
  f["message"] = message;
}

int Report::count(Severity severity) const {
  return static_cast<int>(std::count_if(
      findings_.begin(), findings_.end(),
      [&](const Json::Value& f) { return f["severity"] == severity_name(severity); }));
}

int Report::status() const {
  return count(Severity::kError) > 0 ? 2 : count(Severity::kWarning) > 0 ? 1 : 0;
}

// file:line:column: severity: path: message [code], as compilers write it;
// the findings as json() orders them.
void Report::print_text(std::ostream& out) const {
  const Json::Value report = json();
  for (const Json::Value& f : report["findings"]) {
    out << f["file"].asString();
    if (f.isMember("line")) out << ":" << f["line"].asInt64() << ":" << f["column"].asInt64();
    out << ": " << f["severity"].asString() << ": ";
    if (f.isMember("path")) out << f["path"].asString() << ": ";
    out << f["message"].asString() << " [" << f["code"].asString() << "]\n";
    if (f.isMember("example")) out << "  for example: " << quoted(f["example"].asString()) << "\n";
  }
  if (findings_.empty()) {
    out << file_ << ": no findings\n";
  } else {
    const int notes = count(Severity::kNote);
    out << file_ << ": " << counted(count(Severity::kError), "error") << ", "
        << counted(count(Severity::kWarning), "warning")
        << (notes > 0 ? ", " + counted(notes, "note") : "") << "\n";
  }
}

Json::Value Report::json() const {
  Json::Value out(Json::objectValue);
  out["file"] = file_;
  out["errors"] = count(Severity::kError);
  out["warnings"] = count(Severity::kWarning);
  out["notes"] = count(Severity::kNote);
  out["status"] = status();
  // The findings by their place: those about the whole file, then those at
  // a line in the order of the file, then those about other files; each
  // group in the order found.
  std::vector<Json::Value> ordered = findings_;
  const auto key = [this](const Json::Value& f) {
    return std::make_tuple(f["file"].asString() != file_, f["line"].asInt64(),
                           f["column"].asInt64());
  };
  std::stable_sort(ordered.begin(), ordered.end(),
                   [&](const Json::Value& a, const Json::Value& b) { return key(a) < key(b); });
  Json::Value& list = out["findings"] = Json::Value(Json::arrayValue);
  for (const Json::Value& f : ordered) list.append(f);
  return out;
}

Json::Value reports_json(const std::vector<Report>& reports) {
  Json::Value out(Json::objectValue);
  out["format"] = kJsonFormat;
  if (reports.size() == 1) out["file"] = reports[0].file();
  Json::Value& files = out["files"] = Json::Value(Json::arrayValue);
  Json::Value& findings = out["findings"] = Json::Value(Json::arrayValue);
  for (const char* total : {"errors", "warnings", "notes", "status"}) out[total] = 0;
  for (const Report& r : reports) {
    const Json::Value one = r.json();
    files.append(r.file());
    for (const char* total : {"errors", "warnings", "notes"})
      out[total] = out[total].asInt() + one[total].asInt();
    for (const auto& f : one["findings"]) findings.append(f);
    out["status"] = std::max(out["status"].asInt(), r.status());
  }
  return out;
}

std::string risk_message(const RiskFinding& finding) {
  std::string message = finding.what;
  if (!finding.through.empty()) message += " through " + quoted(finding.through);
  if (!finding.why.empty()) message += ": " + finding.why;
  return message;
}

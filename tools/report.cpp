#include "report.h"

#include <fcntl.h>
#include <json/writer.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <tuple>

#include "json_document.h"
#include "policy.h"

void Report::place(Finding& f, size_t offset) const {
  if (offset > text_.size()) return;
  size_t line = 0, column = 0;
  line_and_column(text_, offset, &line, &column);
  f.line = static_cast<long>(line);
  f.column = static_cast<long>(column);
}

void Report::add(const std::string& code, const std::string& path, const Json::Value& at,
                 const std::string& message, const std::string& example) {
  Finding f{finding_class(code).severity, code, path, file_, 0, 0, message, example};
  const ptrdiff_t offset = at.getOffsetStart();
  if (offset > 0 || (offset == 0 && at.getOffsetLimit() > 0)) place(f, static_cast<size_t>(offset));
  findings_.push_back(f);
}

void Report::add_at(const std::string& code, size_t offset, const std::string& message,
                    const std::string& path) {
  Finding f{finding_class(code).severity, code, path, file_, 0, 0, message, ""};
  place(f, offset);
  findings_.push_back(f);
}

void Report::add_file(const std::string& code, const std::string& file,
                      const std::string& message) {
  findings_.push_back({finding_class(code).severity, code, "", file, 0, 0, message, ""});
}

int Report::count(Severity severity) const {
  int n = 0;
  for (const auto& f : findings_) n += f.severity == severity;
  return n;
}

int Report::status() const {
  return count(Severity::kError) > 0 ? 2 : count(Severity::kWarning) > 0 ? 1 : 0;
}

std::vector<Finding> Report::ordered() const {
  std::vector<Finding> out = findings_;
  const auto key = [this](const Finding& f) {
    return std::make_tuple(f.file != file_, f.line, f.column);
  };
  std::stable_sort(out.begin(), out.end(),
                   [&](const Finding& a, const Finding& b) { return key(a) < key(b); });
  return out;
}

namespace {

std::string counted(int n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

// file:line:column: severity: path: message [code], as compilers write it.
void Report::print_text(std::ostream& out) const {
  for (const auto& f : ordered()) {
    std::string where = f.file;
    if (f.line > 0) where += ":" + std::to_string(f.line) + ":" + std::to_string(f.column);
    out << where << ": " << severity_name(f.severity) << ": ";
    if (!f.path.empty()) out << f.path << ": ";
    out << f.message << " [" << f.code << "]\n";
    if (!f.example.empty()) out << "  for example: " << quoted(f.example) << "\n";
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

void Report::print_json() const {
  ::print_json(json());
}

Json::Value Report::json() const {
  Json::Value out(Json::objectValue);
  out["file"] = file_;
  out["errors"] = count(Severity::kError);
  out["warnings"] = count(Severity::kWarning);
  out["notes"] = count(Severity::kNote);
  out["status"] = status();
  Json::Value& list = out["findings"] = Json::Value(Json::arrayValue);
  for (const auto& f : ordered()) {
    Json::Value item(Json::objectValue);
    item["severity"] = severity_name(f.severity);
    item["code"] = f.code;
    item["file"] = f.file;
    if (!f.path.empty()) item["path"] = f.path;
    if (f.line > 0) {
      item["line"] = static_cast<Json::Int64>(f.line);
      item["column"] = static_cast<Json::Int64>(f.column);
    }
    item["message"] = f.message;
    if (!f.example.empty()) item["example"] = f.example;
    list.append(item);
  }
  return out;
}

Json::Value reports_json(const std::vector<Report>& reports) {
  Json::Value out(Json::objectValue);
  out["format"] = kJsonFormat;
  if (reports.size() == 1) out["file"] = reports[0].file();
  Json::Value& files = out["files"] = Json::Value(Json::arrayValue);
  Json::Value& findings = out["findings"] = Json::Value(Json::arrayValue);
  int status = 0;
  for (const char* total : {"errors", "warnings", "notes"}) out[total] = 0;
  for (const Report& r : reports) {
    const Json::Value one = r.json();
    files.append(r.file());
    for (const char* total : {"errors", "warnings", "notes"})
      out[total] = out[total].asInt() + one[total].asInt();
    for (const auto& f : one["findings"]) findings.append(f);
    status = std::max(status, r.status());
  }
  out["status"] = status;
  return out;
}

void print_json(const Json::Value& value) {
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "  ";
  std::cout << Json::writeString(writer, value) << "\n";
}

std::string member_path(const std::string& parent, const std::string& name) {
  bool word = !name.empty() && !(name[0] >= '0' && name[0] <= '9');
  for (char c : name) {
    word = word &&
           ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
  }
  if (word) return parent + "." + name;
  Json::StreamWriterBuilder writer;
  writer["emitUTF8"] = true;
  return parent + "[" + Json::writeString(writer, Json::Value(name)) + "]";
}

std::string index_path(const std::string& parent, unsigned index) {
  return parent + "[" + std::to_string(index) + "]";
}

std::string entry_path(const std::string& section, unsigned index) {
  return index_path(member_path(member_path("$", section), "white_cmd_list"), index);
}

std::string type_name(const Json::Value& value) {
  // In the order of Json::ValueType.
  static const char* const kNames[] = {"null",     "a number",  "a number", "a number",
                                       "a string", "a boolean", "an array", "an object"};
  return kNames[value.type()];
}

std::string quoted(const std::string& text) {
  Json::StreamWriterBuilder writer;
  writer["emitUTF8"] = true;
  return Json::writeString(writer, Json::Value(text));
}

std::string risk_message(const RiskFinding& finding) {
  std::string message = finding.what;
  if (!finding.through.empty()) message += " through " + quoted(finding.through);
  if (!finding.why.empty()) message += ": " + finding.why;
  return message;
}

namespace {

size_t edit_distance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

}  // namespace

std::string similar_name(const std::string& name, const std::vector<std::string>& known) {
  if (name.size() <= 3) return std::string();
  for (const std::string& k : known) {
    if (edit_distance(name, k) <= 2) return k;
  }
  return std::string();
}

std::string unreadable(const std::string& path) {
  return read_file(path, nullptr);
}

std::string policy_unread(const std::string& path, bool trusted_only) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return std::string("cannot be opened: ") + strerror(errno);
  struct stat st {};
  const int status = fstat(fd, &st);
  close(fd);
  if (status != 0) return std::string("cannot be read: ") + strerror(errno);
  if (const char* why = trusted_only ? policy_distrust(st) : nullptr)
    return std::string(why) + ": not used";
  return S_ISDIR(st.st_mode) ? "is a directory" : "";
}

std::string read_file(const std::string& path, std::string* text) {
  struct stat st {};
  if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return "is a directory";
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) return std::string("cannot be opened: ") + strerror(errno);
  if (text != nullptr) {
    char buffer[65536];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, f)) > 0;) text->append(buffer, n);
  }
  fclose(f);
  return std::string();
}

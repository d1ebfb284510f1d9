#include "report.h"

#include <json/writer.h>

#include <cstdio>
#include <iostream>

void Report::place(Finding& f, size_t offset) const {
  if (offset > text_.size()) return;
  // Lines and columns as the reader counts them: from 1, a column per byte,
  // and "\r\n" or a lone "\r" ends a line as "\n" does.
  long line = 1;
  size_t line_start = 0;
  for (size_t i = 0; i < offset; ++i) {
    const char c = text_[i];
    if (c == '\r' && i + 1 < text_.size() && text_[i + 1] == '\n') continue;
    if (c == '\r' || c == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  f.line = line;
  f.column = static_cast<long>(offset - line_start) + 1;
}

void Report::add(Severity severity, const std::string& code, const std::string& path,
                 const Json::Value& at, const std::string& message) {
  Finding f{severity, code, path, file_, 0, 0, message};
  const ptrdiff_t offset = at.getOffsetStart();
  if (offset > 0 || (offset == 0 && at.getOffsetLimit() > 0)) place(f, static_cast<size_t>(offset));
  findings_.push_back(f);
}

void Report::add_at(Severity severity, const std::string& code, size_t offset,
                    const std::string& message, const std::string& path) {
  Finding f{severity, code, path, file_, 0, 0, message};
  place(f, offset);
  findings_.push_back(f);
}

void Report::add_file(Severity severity, const std::string& code, const std::string& file,
                      const std::string& message) {
  findings_.push_back({severity, code, "", file, 0, 0, message});
}

int Report::errors() const {
  int n = 0;
  for (const auto& f : findings_) n += f.severity == Severity::kError;
  return n;
}

int Report::warnings() const {
  return static_cast<int>(findings_.size()) - errors();
}

int Report::status() const {
  return errors() > 0 ? 2 : warnings() > 0 ? 1 : 0;
}

namespace {

const char* severity_name(Severity s) {
  return s == Severity::kError ? "error" : "warning";
}

std::string count(int n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

// file:line:column: severity: path: message [code], as compilers write it.
void Report::print_text() const {
  for (const auto& f : findings_) {
    std::string where = f.file;
    if (f.line > 0) where += ":" + std::to_string(f.line) + ":" + std::to_string(f.column);
    std::cout << where << ": " << severity_name(f.severity) << ": ";
    if (!f.path.empty()) std::cout << f.path << ": ";
    std::cout << f.message << " [" << f.code << "]\n";
  }
  if (findings_.empty()) {
    std::cout << file_ << ": no findings\n";
  } else {
    std::cout << file_ << ": " << count(errors(), "error") << ", " << count(warnings(), "warning")
              << "\n";
  }
}

void Report::print_json() const {
  Json::Value out(Json::objectValue);
  out["file"] = file_;
  out["errors"] = errors();
  out["warnings"] = warnings();
  out["status"] = status();
  Json::Value& list = out["findings"] = Json::Value(Json::arrayValue);
  for (const auto& f : findings_) {
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
    list.append(item);
  }
  Json::StreamWriterBuilder writer;
  writer["indentation"] = "  ";
  std::cout << Json::writeString(writer, out) << "\n";
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

std::string type_name(const Json::Value& value) {
  switch (value.type()) {
    case Json::nullValue:
      return "null";
    case Json::intValue:
    case Json::uintValue:
    case Json::realValue:
      return "a number";
    case Json::stringValue:
      return "a string";
    case Json::booleanValue:
      return "a boolean";
    case Json::arrayValue:
      return "an array";
    case Json::objectValue:
      return "an object";
  }
  return "a value";
}

std::string quoted(const std::string& text) {
  Json::StreamWriterBuilder writer;
  writer["emitUTF8"] = true;
  return Json::writeString(writer, Json::Value(text));
}

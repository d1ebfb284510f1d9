#include "json_text.h"

#include <json/writer.h>

#include <algorithm>
#include <iostream>

#include "vocabulary.h"

std::string json_written(const Json::Value& value, const char* indentation, bool utf8) {
  Json::StreamWriterBuilder writer;
  writer["indentation"] = indentation;
  writer["emitUTF8"] = utf8;
  return Json::writeString(writer, value);
}

void print_json(const Json::Value& value, bool utf8) {
  std::cout << json_written(value, "  ", utf8) << "\n";
}

std::string member_path(const std::string& parent, const std::string& name) {
  const bool word = !name.empty() && !(name[0] >= '0' && name[0] <= '9') &&
                    name.find_first_not_of(
                        "_0123456789abcdefghijklmnopqrstuvwxyz"
                        "ABCDEFGHIJKLMNOPQRSTUVWXYZ") == std::string::npos;
  return word ? parent + "." + name : parent + "[" + quoted(name) + "]";
}

std::string index_path(const std::string& parent, unsigned index) {
  return parent + "[" + std::to_string(index) + "]";
}

std::string entry_path(const std::string& section, unsigned index) {
  return index_path(member_path(member_path("$", section), kWhiteListMember), index);
}

std::string type_name(const Json::Value& value) {
  // In the order of Json::ValueType.
  static const char* const kNames[] = {"null",     "a number",  "a number", "a number",
                                       "a string", "a boolean", "an array", "an object"};
  return kNames[value.type()];
}

std::string quoted(const std::string& text) {
  return json_written(Json::Value(text), "", true);
}

std::string counted(size_t n, const char* what) {
  return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
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

#include "document.h"

#include <json/reader.h>
#include <regex.h>

#include <set>

#include "json_document.h"
#include "json_text.h"

// jsoncpp's strict reader (CharReaderBuilder with "rejectDupKeys") stops at
// the first repeated name of a document and tells it only as formatted text,
// without the member's path, and it takes the same number tokens as the
// classic reader ("-", "01", "1.") and "+1" besides. So the document is
// walked value by value, each value read by the gate's own reader; only the
// punctuation between members and elements is looked at here.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

// A number token as JSON writes it.
bool json_number(const std::string& token) {
  static regex_t number;
  static const bool compiled = regcomp(&number, "^-?(0|[1-9][0-9]*)(\\.[0-9]+)?([eE][+-]?[0-9]+)?$",
                                       REG_EXTENDED | REG_NOSUB) == 0;
  return compiled && regexec(&number, token.c_str(), 0, nullptr, 0) == 0;
}

// Reads the value at text[p] with the gate's reader, which ignores what
// follows it; the offset behind it, or the text's end when none can be read.
size_t read_value(const std::string& text, size_t p, Json::Value& value) {
  Json::Reader reader;
  if (!reader.parse(text.data() + p, text.data() + text.size(), value, false)) return text.size();
  return p + static_cast<size_t>(value.getOffsetLimit());
}

// Reports on the value at text[p] and on every value in it; the offset
// behind it.
size_t walk(const std::string& text, size_t p, const std::string& path, Report& report) {
  Json::Value value;
  const size_t end = read_value(text, p, value);
  const std::string token = value.isNumeric() ? text.substr(p, end - p) : std::string();
  if (value.isNumeric() && !json_number(token)) {
    report.add_at("not-json-number", p,
                  "'" + token + "' is no JSON number: the gate's reader takes it as " +
                      json_written(value, ""),
                  path);
  }
  if (!value.isObject() && !value.isArray()) return end;
  std::set<std::string> names;
  unsigned index = 0;
  for (size_t q = skip_blanks_and_comments(text, p + 1);
       q < end && text[q] != '}' && text[q] != ']';) {
    std::string inner = index_path(path, index++);
    if (value.isObject()) {
      Json::Value name;
      const size_t name_end = read_value(text, q, name);
      inner = member_path(path, name.asString());
      if (!names.insert(name.asString()).second) {
        report.add_at("repeated-member", q,
                      "is given again: the gate keeps this value and ignores the earlier one",
                      inner);
      }
      q = skip_blanks_and_comments(text, skip_blanks_and_comments(text, name_end) + 1);  // ':'
    }
    const size_t inner_end = walk(text, q, inner, report);
    if (inner_end <= q) break;
    q = skip_blanks_and_comments(text, inner_end);
    if (q < end && text[q] == ',') q = skip_blanks_and_comments(text, q + 1);
  }
  return end;
}

}  // namespace

#pragma GCC diagnostic pop

void report_document(const std::string& text, Report& report) {
  walk(text, skip_blanks_and_comments(text, 0), "$", report);
}

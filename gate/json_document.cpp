#include "json_document.h"

#include <json/reader.h>

#include <algorithm>
#include <string>

// The classic reader is the one whose rules (comments, any root value) the
// policy files are written for; newer jsoncpp releases mark it deprecated.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

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

bool parse_policy_text(const std::string& text, Json::Value& value, std::string* formatted,
                       std::vector<PolicyError>* errors) {
  return parse_document(text, value, false, formatted, errors);
}

#pragma GCC diagnostic pop

#include "repeated.h"

#include <json/reader.h>

#include <set>
#include <vector>

namespace {

struct Frame {
  bool object;
  std::set<std::string> names;
  std::string key;     // the member being read (objects)
  unsigned index = 0;  // the element being read (arrays)
  bool expect_key = false;
};

// The JSON path of a member name in the innermost object of the stack.
std::string path_of(const std::vector<Frame>& stack, const std::string& name) {
  std::string path = "$";
  for (size_t i = 0; i + 1 < stack.size(); ++i) {
    path = stack[i].object ? member_path(path, stack[i].key) : index_path(path, stack[i].index);
  }
  return member_path(path, name);
}

// The text of a string token, escapes resolved as the reader resolves them.
std::string unquote(const std::string& token) {
  Json::Value value;
  Json::Reader reader;
  return reader.parse(token, value, false) && value.isString() ? value.asString() : token;
}

}  // namespace

void report_repeated_members(const std::string& text, Report& report) {
  std::vector<Frame> stack;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '/' && i + 1 < text.size() && (text[i + 1] == '/' || text[i + 1] == '*')) {
      const size_t end = text[i + 1] == '/' ? text.find('\n', i) : text.find("*/", i + 2);
      if (end == std::string::npos) return;
      i = text[i + 1] == '/' ? end : end + 1;
    } else if (c == '"') {
      size_t end = i + 1;
      while (end < text.size() && text[end] != '"') end += text[end] == '\\' ? 2 : 1;
      if (end >= text.size()) return;
      if (!stack.empty() && stack.back().object && stack.back().expect_key) {
        Frame& top = stack.back();
        const std::string name = unquote(text.substr(i, end - i + 1));
        if (!top.names.insert(name).second) {
          report.add_at(Severity::kWarning, "repeated-member", i,
                        "is given again: the gate keeps this value and ignores the earlier one",
                        path_of(stack, name));
        }
        top.key = name;
        top.expect_key = false;
      }
      i = end;
    } else if (c == '{' || c == '[') {
      stack.push_back(Frame{c == '{', {}, {}, 0, c == '{'});
    } else if (c == ',' && !stack.empty()) {
      stack.back().expect_key = stack.back().object;
      if (!stack.back().object) ++stack.back().index;
    } else if ((c == '}' || c == ']') && !stack.empty()) {
      stack.pop_back();
      if (stack.empty()) return;  // the reader ignores what follows the value
    }
  }
}

#include "pattern.h"

#include <vector>

#include "pattern_match.h"
#include "shell.h"
#include "white_list.h"

namespace {

// Whether the gate's matcher finds the pattern in the text.
bool matches(const std::string& pattern, const std::string& text) {
  return check_regexp(text.c_str(), pattern.c_str()) == 0;
}

enum class Kind { kLiteral, kVariable, kOpen, kClose, kAlternative, kStart, kEnd, kOther };

struct Token {
  Kind kind;
  std::string text;
};

// Length of the bracket expression that starts at p[i] == '['.
size_t bracket_length(const std::string& p, size_t i) {
  size_t j = i + 1;
  if (j < p.size() && p[j] == '^') ++j;
  if (j < p.size() && p[j] == ']') ++j;
  while (j < p.size() && p[j] != ']') {
    if (p[j] == '[' && j + 1 < p.size() &&
        (p[j + 1] == ':' || p[j + 1] == '=' || p[j + 1] == '.')) {
      const size_t close = p.find(std::string(1, p[j + 1]) + "]", j + 2);
      j = close == std::string::npos ? p.size() : close + 2;
    } else {
      ++j;
    }
  }
  return (j < p.size() ? j + 1 : p.size()) - i;
}

bool ends_branch(const std::string& p, size_t next) {
  return next == p.size() || p.compare(next, 2, "\\)") == 0 || p.compare(next, 2, "\\|") == 0;
}

// Splits a basic regular expression into the tokens that matter here. "^" is
// an anchor only where an alternative begins and "$" only where one ends;
// elsewhere both are ordinary characters.
std::vector<Token> tokenize(const std::string& p) {
  std::vector<Token> tokens;
  bool branch_start = true;
  for (size_t i = 0; i < p.size();) {
    Token t{Kind::kLiteral, p.substr(i, 1)};
    size_t length = 1;
    const char c = p[i];
    if (c == '\\' && i + 1 < p.size()) {
      length = 2;
      const char d = p[i + 1];
      t.text = p.substr(i, 2);
      if (d == '(') {
        t.kind = Kind::kOpen;
      } else if (d == ')') {
        t.kind = Kind::kClose;
      } else if (d == '|') {
        t.kind = Kind::kAlternative;
      } else if (d == '{') {
        const size_t close = p.find("\\}", i + 2);
        length = (close == std::string::npos ? p.size() : close + 2) - i;
        t.kind = Kind::kOther;
      } else if (d == 'W' || d == 's' || d == 'S' || d == 'w') {
        t.kind = Kind::kVariable;
      } else if (d == '`' && branch_start) {
        t.kind = Kind::kStart;
      } else if (d == '\'' && ends_branch(p, i + 2)) {
        t.kind = Kind::kEnd;
      } else if ((d >= '1' && d <= '9') || d == '+' || d == '?' || d == 'b' || d == 'B' ||
                 d == '<' || d == '>' || d == '`' || d == '\'') {
        t.kind = Kind::kOther;
      } else {
        t.text = std::string(1, d);
      }
    } else if (c == '^' && branch_start) {
      t.kind = Kind::kStart;
    } else if (c == '$' && ends_branch(p, i + 1)) {
      t.kind = Kind::kEnd;
    } else if (c == '.') {
      t.kind = Kind::kVariable;
    } else if (c == '[') {
      length = bracket_length(p, i);
      t = {Kind::kVariable, p.substr(i, length)};
    } else if (c == '*') {
      t.kind = Kind::kOther;
    }
    branch_start = t.kind == Kind::kOpen || t.kind == Kind::kAlternative;
    tokens.push_back(t);
    i += length;
  }
  return tokens;
}

// The shell metacharacters that one variable part (".", a bracket
// expression, "\W", "\s", "\S") matches, asked of the matcher itself.
std::string admitted(const std::string& part) {
  const std::string whole = "^" + part + "$";
  std::string found;
  if (!pattern_error(whole.c_str()).empty()) return found;
  for (const char* m = kShellMetachars; *m != '\0'; ++m) {
    if (matches(whole, std::string(1, *m))) found += *m;
  }
  return found;
}

}  // namespace

PatternShape pattern_shape(const std::string& pattern) {
  PatternShape shape;
  const std::vector<Token> tokens = tokenize(pattern);
  // Top-level alternatives: each must be anchored for the whole to be.
  shape.anchored_start = shape.anchored_end = true;
  int depth = 0;
  bool at_start = true;
  const Token* last = nullptr;
  auto close_branch = [&]() {
    if (last == nullptr || last->kind != Kind::kEnd) shape.anchored_end = false;
  };
  for (const Token& t : tokens) {
    if (depth == 0 && t.kind == Kind::kAlternative) {
      if (at_start) shape.anchored_start = false;  // an empty alternative
      close_branch();
      at_start = true;
      last = nullptr;
      continue;
    }
    if (at_start && t.kind != Kind::kStart) shape.anchored_start = false;
    at_start = false;
    if (t.kind == Kind::kOpen) ++depth;
    if (t.kind == Kind::kClose && depth > 0) --depth;
    if (depth == 0 || t.kind == Kind::kClose) last = &t;
    if (t.kind == Kind::kVariable) {
      for (char m : admitted(t.text)) {
        if (shape.metachars.find(m) != std::string::npos) continue;
        if (shape.admitted_by.empty()) shape.admitted_by = t.text;
        shape.metachars += m;
      }
    }
  }
  if (at_start) shape.anchored_start = false;
  close_branch();
  return shape;
}

bool matches_everything(const std::string& pattern) {
  for (const char* probe :
       {"", "a", "a b", ";", "\n", "ls -l /tmp; rm -rf /", " x\x01\x7f\xff", "__", "(]"}) {
    if (!matches(pattern, probe)) return false;
  }
  return true;
}

std::string literal_pattern(const std::string& text) {
  std::string pattern = "^";
  for (char c : text) {
    if (special_in_pattern(c)) pattern += '\\';
    pattern += c;
  }
  return pattern + "$";
}

#include "shell.h"

std::string shell_metachars_in(const std::string& text) {
  std::string found;
  for (const char* m = kShellMetachars; *m != '\0'; ++m) {
    if (text.find(*m) != std::string::npos) found += *m;
  }
  return found;
}

std::string listed_chars(const std::string& chars) {
  std::string out;
  for (char c : chars) {
    if (!out.empty()) out += ", ";
    out += c == '\n' ? std::string("newline") : "\"" + std::string(1, c) + "\"";
  }
  return out;
}

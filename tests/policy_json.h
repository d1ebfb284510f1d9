// Command policies for the tests, assembled from JSON text.
#pragma once

#include <string>

// Refuses every command.
constexpr const char kRefusingSection[] = R"({"check_method": 2})";
// Reads as method 0: allows every command.
constexpr const char kAllowingSection[] = "null";

// A policy section with a check method, a white list (JSON text) and the
// section's "is_type_check".
inline std::string section(int method, const std::string& list, int type_check = 0) {
  return R"({"check_method": )" + std::to_string(method) + R"(, "is_type_check": )" +
         std::to_string(type_check) + R"(, "white_cmd_list": )" + list + "}";
}

// A policy with the given scripts section; the ui section refuses unless
// another one is given.
inline std::string policy_text(const std::string& scripts, int log_switch = 0,
                               const std::string& ui = kRefusingSection) {
  return R"({"enable_log": )" + std::to_string(log_switch) + R"(, "scripts_section": )" + scripts +
         R"(, "ui_section": )" + ui + "}";
}

// What the gate prints when it refuses, and when its policy is an empty
// document (missing, unreadable or untrusted).
constexpr const char kRefusal[] = "failed to pass the parameter check\n";
constexpr const char kEmptyDocument[] =
    "Failed to parse configuration\n"
    "* Line 1, Column 1\n"
    "  Syntax error: value, object or array expected.\n"
    "failed to pass the parameter check\n";

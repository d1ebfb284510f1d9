// JSON paths into a policy and the wording of values in the tool's messages.
#pragma once

#include <json/value.h>

#include <string>
#include <vector>

// "$.a.b[2]" style paths; names that are not plain words are quoted.
std::string member_path(const std::string& parent, const std::string& name);
std::string index_path(const std::string& parent, unsigned index);
// "$.SECTION.white_cmd_list[INDEX]": a white-list entry of a policy section.
std::string entry_path(const std::string& section, unsigned index);
// "an array", "a string", ... for messages.
std::string type_name(const Json::Value& value);
// Text with control characters escaped, quoted: for patterns in messages.
std::string quoted(const std::string& text);
// "1 error", "2 errors": a count and what it counts, plural unless it is 1.
std::string counted(size_t n, const char* what);
// value as JSON text, indented by indentation ("": on one line), with
// characters outside ASCII as UTF-8 or, without utf8, escaped.
std::string json_written(const Json::Value& value, const char* indentation, bool utf8 = false);
// Prints value on standard output, indented, and a line end.
void print_json(const Json::Value& value, bool utf8 = false);
// Of the known names, the first that name may be a misspelling of (a few
// letters off); empty when there is none.
std::string similar_name(const std::string& name, const std::vector<std::string>& known);

// Reading a JSON document as the gate reads its policy and the role service's
// reply: the classic reader (comments accepted, any root value), and nothing
// but blanks and comments after the value.
#pragma once

#include <json/value.h>

#include <cstddef>
#include <string>
#include <vector>

// A reader's message and the byte offset it is about.
struct PolicyError {
  size_t offset;
  std::string message;
};
// Parses text; on failure gives the reader's formatted messages and each
// message with its offset, and leaves value as it was.
bool parse_document(const std::string& text, Json::Value& value, bool collect_comments,
                    std::string* formatted, std::vector<PolicyError>* errors);
// parse_document without comments: how a policy is read.
bool parse_policy_text(const std::string& text, Json::Value& value, std::string* formatted,
                       std::vector<PolicyError>* errors);
// The first byte at or after i that is neither a blank nor part of a comment,
// as the reader skips them (the start of a comment left open counts as such a
// byte); text.size() when there is none.
size_t skip_blanks_and_comments(const std::string& text, size_t i);
// The line and column of a byte offset, both from 1, counted as the reader
// counts them in its messages.
void line_and_column(const std::string& text, size_t offset, size_t* line, size_t* column);

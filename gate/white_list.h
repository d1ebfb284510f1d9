// Regular-expression white lists.
#pragma once

#include <json/value.h>

#include <string>

#include "decision_record.h"
#include "vocabulary.h"

// 0 match, 1 no match, 2 error. pattern_error: the matcher's message when
// check_regexp cannot compile the pattern, empty when it can.
int check_regexp(const char* text, const char* pattern);
std::string pattern_error(const char* pattern);
int check_type(int type);
// Walks list for text; the match is recorded in record, hooks (if any) are
// told each entry tried and may answer the role check.
int white_check(const char* text, const Json::Value& list, int type_check, const char* cookie,
                SectionDecision& record, const DecisionHooks* hooks);
// What white_check reads of each entry it tries, before matching: the
// pattern as the matcher receives it ("pattern" as text, handed over as a C
// string, so a NUL byte ends it), and the cookie flag ("is_cookie_check",
// default 1).
std::string pattern_of(const Json::Value& entry);
int cookie_flag_of(const Json::Value& entry);
// How the entry that matched decides: allowed at once when its cookie flag
// is 0, or when the section checks types and its "type" (converted whenever
// the section checks types) is 0; otherwise by a role check.
MatchRule match_rule(const Json::Value& entry, int cookie_flag, int type_check);

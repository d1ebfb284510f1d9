// The white list applied to the command lines of the gate's ancestors.
#pragma once

#include <json/value.h>

#include "decision_record.h"

// Reads pid's command line (at most kProcNameSize bytes) into buffer.
int get_proc_name(int pid, char* buffer);
// The section's record keeps the last ancestor whose command line matched;
// hooks (if any) may supply the command lines.
int ancestor_check(const char* command, const Json::Value& list, int type_check, const char* cookie,
                   SectionDecision& record, const DecisionHooks* hooks);

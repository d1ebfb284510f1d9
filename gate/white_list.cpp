#include "gate.h"

// White-list matching is not built yet: every white list refuses.
int check_regexp(const char*, const char*) { return 1; }
int check_type(int type) { return type != 0 ? 2 : 0; }
int white_check(const char*, Json::Value, int, const char*) { return 1; }

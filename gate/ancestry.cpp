#include "gate.h"

// The ancestor check is not built yet: it refuses.
int get_proc_name(int, char*) { return -1; }
int ancestor_check(const char*, Json::Value, int, const char*) { return 1; }

#include "gate.h"

// The role lookup is not built yet: it leaves group_role as it is.
size_t write_data(void*, size_t, size_t, url_data*) { return 0; }
int get_role_right(const char*) { return 0; }

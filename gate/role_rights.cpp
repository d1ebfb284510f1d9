#include "gate.h"

int check_right(int granted, int required) { return required > 0 && granted >= required ? 0 : 2; }
// Not built yet: refuses.
int check_role_right(Json::Value) { return 1; }

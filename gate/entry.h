// The gate's entry: what only a run of the set-uid program itself does.
#pragma once

#include <sys/types.h>

#include <cstddef>

// Whether the gate was started set-uid or set-gid by a caller without that
// identity; for such a start, clean_environment replaces the caller's
// environment with one built from scratch. The cookie variable is taken out
// of the environment in every run (its value, null when it was not there).
bool started_with_privilege();
const char* take_environment_cookie();
void clean_environment();

// Field field (kAccountName, kAccountHome) of uid's line in the password
// file, cut to fit out's size; false when it has no such line.
constexpr int kAccountName = 0;
constexpr int kAccountHome = 5;
bool account_field(uid_t uid, int field, char* out, size_t size);
template <size_t N>
bool account_field(uid_t uid, int field, char (&out)[N]) {
  return account_field(uid, field, out, N);
}

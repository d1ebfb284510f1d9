// What the gate trusts with root besides its policy's content: who can change
// the policy, the role service's settings and the libraries it loads.
#pragma once

#include <sys/types.h>

#include <string>

#include "report.h"
#include "vocabulary.h"

// Checks the installed policy (by the gate's own rule), the settings file,
// the gate's library directory and every directory above them, and the mode
// of the gate installed beside this program. role_checked: the policy has
// entries that need a role lookup, which needs the settings. policy: the
// file whose owner and mode are judged as the installed policy's, named
// shown_as in the report (another file, for one about to be installed).
void check_trusted_files(Report& report, bool role_checked, const std::string& policy = kPolicyPath,
                         const std::string& shown_as = kPolicyPath);

// Why the policy's "role_service_user" (uid user) does not keep the role
// service to its owner: an account that can start the gate (the installed
// gate's group, everyone where others may run it, else the configured gate
// group) or one that many services share (nobody). Empty when neither.
std::string service_user_weakness(uid_t user);

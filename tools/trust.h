// What the gate trusts with root besides its policy's content: who can change
// the policy, the role service's settings and the libraries it loads.
#pragma once

#include <string>

#include "policy.h"
#include "report.h"

// Checks the installed policy (by the gate's own rule), the settings file,
// the gate's library directory and every directory above them, and the mode
// of the gate installed beside this program. role_checked: the policy has
// entries that need a role lookup, which needs the settings. policy: the
// file whose owner and mode are judged as the installed policy's, named
// shown_as in the report (another file, for one about to be installed).
void check_trusted_files(Report& report, bool role_checked, const std::string& policy = kPolicyPath,
                         const std::string& shown_as = kPolicyPath);

// "corvexin_policy install" and "edit": a checked policy put in the gate's
// place whole, under a lock, with the previous one kept beside it.
#pragma once

#include <string>

// Where install keeps the policy it replaced, and the lock that two installs
// or edits take in turn.
constexpr char kOldPolicyPath[] = "/etc/cmd_check.json.old";
constexpr char kPolicyLockPath[] = "/etc/cmd_check.json.lock";

// Installs the policy file at path as kPolicyPath: checks it as installed,
// shows what it admits that the installed policy did not, and refuses it on
// errors and, unless accept_warnings, on warnings. 0 installed, 1 refused
// for warnings, 2 refused for errors or not installed for a failure.
int install_command(const std::string& path, bool accept_warnings);

// Opens a copy of the installed policy in the administrator's editor
// ($VISUAL, $EDITOR, else "editor" or "vi") and installs the result as
// install_command does, under the same lock. An edit that is not installed
// is kept, and its path printed. 0 installed or unchanged; otherwise as
// install_command.
int edit_command(bool accept_warnings);

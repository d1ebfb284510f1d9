#include <sys/auxv.h>

#include <cstring>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "gate.h"

extern char** environ;

namespace {

constexpr const char kSafePathEntry[] = "PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin";

// Variables through which a caller could make the shell, an interpreter that
// the command starts, or the gate's own libraries do what the caller wants.
constexpr std::string_view kUnsafeNames[] = {
    "IFS", "CDPATH", "LOCALDOMAIN", "RES_OPTIONS", "HOSTALIASES", "NLSPATH", "PATH_LOCALE",
    "TERMINFO", "TERMINFO_DIRS", "TERMPATH", "TERMCAP", "ENV", "BASH_ENV", "PS4", "GLOBIGNORE",
    "BASHOPTS", "SHELLOPTS", "FPATH", "NULLCMD", "READNULLCMD", "ZDOTDIR", "TMPPREFIX",
    "JAVA_TOOL_OPTIONS", "_JAVA_OPTIONS", "CLASSPATH", "PERLIO_DEBUG", "PERLLIB", "PERL5LIB",
    "PERL5OPT", "PERL5DB", "PYTHONHOME", "PYTHONPATH", "PYTHONINSPECT", "PYTHONUSERBASE",
    "PYTHONSTARTUP", "RUBYLIB", "RUBYOPT", "NODE_OPTIONS", "NODE_PATH", "GIT_SSH_COMMAND",
    "GCONV_PATH", "SSLKEYLOGFILE",
    "PATH",  // replaced by kSafePathEntry
};
constexpr std::string_view kUnsafePrefixes[] = {"LD_", "_RLD", "GIT_CONFIG_", "BASH_FUNC_"};

bool unsafe(std::string_view name, std::string_view value) {
  if (value.substr(0, 2) == "()") return true;  // an exported shell function
  for (auto prefix : kUnsafePrefixes)
    if (name.substr(0, prefix.size()) == prefix) return true;
  for (auto unsafe_name : kUnsafeNames)
    if (name == unsafe_name) return true;
  return false;
}

}  // namespace

bool started_with_privilege() { return getauxval(AT_SECURE) != 0; }

// A caller that is not root but started the gate set-uid or set-gid chooses
// the environment that the root shell would inherit. Keep only variables that
// cannot change what runs, each name once (the first, as getenv sees it), and
// a fixed PATH. Entries without a name or without '=' are dropped too.
void clean_environment() {
  if (!started_with_privilege()) return;
  static std::vector<char*> kept;
  std::unordered_set<std::string_view> seen;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const char* eq = strchr(*e, '=');
    if (eq == nullptr || eq == *e) continue;
    std::string_view name(*e, static_cast<size_t>(eq - *e));
    if (unsafe(name, eq + 1) || !seen.insert(name).second) continue;
    kept.push_back(*e);
  }
  kept.push_back(const_cast<char*>(kSafePathEntry));
  kept.push_back(nullptr);
  environ = kept.data();
}

#include <sys/auxv.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "entry.h"
#include "vocabulary.h"

extern char** environ;

namespace {

constexpr const char kCookieVariable[] = "CORVEXIN_COOKIE";

bool no_slash_or_percent(std::string_view value) {
  return value.find_first_of("/%") == std::string_view::npos;
}

// A zone name, never a path: a zone file of the caller's choosing is parsed
// by the C library of every program the command starts.
bool zone_name(std::string_view value) {
  return value.substr(0, 1) != "/" && value.substr(0, 2) != ":/" &&
         value.find("..") == std::string_view::npos;
}

bool digits_only(std::string_view value) {
  return !value.empty() && value.find_first_not_of("0123456789") == std::string_view::npos;
}

// The caller's variables that may reach the command of a set-uid start:
// names that only choose a language, a time zone or a terminal.
bool offered(std::string_view name) {
  return name == "TERM" || name == "LANG" || name == "LANGUAGE" || name.substr(0, 3) == "LC_" ||
         name == "TZ" || name == "COLUMNS" || name == "LINES";
}

// Each with a value that cannot name a file of the caller's.
bool safe_value(std::string_view name, std::string_view value) {
  if (name == "TZ") return zone_name(value);
  if (name == "COLUMNS" || name == "LINES") return digits_only(value);
  return no_slash_or_percent(value);
}

std::string root_home() {
  char home[4096];
  return account_field(0, kAccountHome, home) && home[0] == '/' ? home : "/root";
}

}  // namespace

bool started_with_privilege() {
  return getauxval(AT_SECURE) != 0;
}

// The cookie passed in the environment, which, unlike an argument, other
// local users cannot read from /proc; null when there is none. The variable
// is removed in every run so that it never reaches the command; its text
// stays where the environment keeps it.
const char* take_environment_cookie() {
  const char* value = getenv(kCookieVariable);
  unsetenv(kCookieVariable);
  return value;
}

// A caller that is not root but started the gate set-uid or set-gid would
// otherwise choose the environment of the root shell, and with it what many
// programs the command starts do (HOME, TAR_OPTIONS, PHPRC, OPENSSL_CONF, ...:
// no list of dangerous names is ever complete). Such a start gets an
// environment built from scratch: root's own variables, inert pagers and
// editors, and the few of the caller's that only choose a language, a time
// zone or a terminal, each name once (the first, as getenv sees it). A root
// caller keeps its environment.
void clean_environment() {
  if (!started_with_privilege()) return;
  static std::vector<std::string> entries;
  entries = {
      std::string("PATH=") + kRootPath,
      "HOME=" + root_home(),
      "USER=root",
      "LOGNAME=root",
      "SHELL=/bin/sh",
      // Pagers and editors that cannot start a shell: a pager (less, as git,
      // man or systemctl start it on a terminal) or an editor run as root
      // takes "!sh" from the caller's keyboard. The caller's values of these
      // names are never offered.
      "PAGER=cat",
      "GIT_PAGER=cat",
      "MANPAGER=cat",
      "SYSTEMD_PAGER=cat",
      "LESSSECURE=1",
      "SYSTEMD_PAGERSECURE=1",
      "EDITOR=false",
      "VISUAL=false",
      "SYSTEMD_EDITOR=false",
      "GIT_EDITOR=false",
  };
  std::unordered_set<std::string_view> seen;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const char* eq = strchr(*e, '=');
    if (eq == nullptr) continue;
    const std::string_view name(*e, static_cast<size_t>(eq - *e));
    if (!offered(name) || !seen.insert(name).second) continue;
    if (safe_value(name, eq + 1)) entries.emplace_back(*e);
  }
  static std::vector<char*> pointers;
  pointers.reserve(entries.size() + 1);
  for (auto& entry : entries) pointers.push_back(entry.data());
  pointers.push_back(nullptr);
  environ = pointers.data();
}

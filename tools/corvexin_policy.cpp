// corvexin_policy: the administrator's companion of the command gate. It
// checks a command policy and explains how the gate would decide a command.
// It is never installed set-uid and never runs a command.
#include <cstdio>
#include <cstring>
#include <string>

#include "check.h"
#include "explain.h"
#include "gate.h"

namespace {

constexpr int kUsageError = 2;

const char kUsage[] =
    "usage: corvexin_policy check [--json] [FILE]\n"
    "       corvexin_policy explain [--json] [--policy FILE] [--cookie COOKIE] [--no-lookup] "
    "[--] COMMAND\n"
    "\n"
    "check    reports what the policy FILE (default /etc/cmd_check.json) does that its writer\n"
    "         may not expect; exit status 0 clean, 1 warnings only, 2 errors.\n"
    "explain  decides COMMAND with the gate's own code without running it and tells how;\n"
    "         exit status 0 allowed, 1 refused, 3 undecided (--no-lookup stopped a role lookup).\n";

int usage(const char* problem) {
  if (problem != nullptr) fprintf(stderr, "corvexin_policy: %s\n", problem);
  fputs(kUsage, stderr);
  return kUsageError;
}

int check_main(int argc, char** argv) {
  bool json = false;
  std::string file;
  bool have_file = false;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--json") {
      json = true;
    } else if (a.size() > 1 && a[0] == '-') {
      return usage(("unknown option " + a).c_str());
    } else if (!have_file) {
      file = a;
      have_file = true;
    } else {
      return usage("check takes one file");
    }
  }
  return check_command(have_file ? file : kPolicyPath, json);
}

int explain_main(int argc, char** argv) {
  ExplainOptions options;
  options.policy = kPolicyPath;
  options.cookie = kDefaultCookie;
  bool have_command = false;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    const bool takes_value = a == "--policy" || a == "--cookie";
    if (takes_value && i + 1 >= argc) return usage((a + " needs a value").c_str());
    if (a == "--json") {
      options.json = true;
    } else if (a == "--no-lookup") {
      options.lookup = false;
    } else if (a == "--policy") {
      options.policy = argv[++i];
    } else if (a == "--cookie") {
      options.cookie = argv[++i];
    } else if (a == "--" && i + 1 < argc && !have_command) {
      options.command = argv[++i];
      have_command = true;
    } else if (!a.empty() && a[0] == '-' && !have_command) {
      return usage(("unknown option " + a).c_str());
    } else if (!have_command) {
      options.command = a;
      have_command = true;
    } else {
      return usage("explain takes one command line; quote it as one argument");
    }
  }
  if (!have_command) return usage("explain needs a command line");
  return explain_command(options);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage(nullptr);
  const std::string action = argv[1];
  if (action == "--help" || action == "-h" || action == "help") {
    fputs(kUsage, stdout);
    return 0;
  }
  try {
    if (action == "check") return check_main(argc - 2, argv + 2);
    if (action == "explain") return explain_main(argc - 2, argv + 2);
  } catch (const std::exception& e) {
    fprintf(stderr, "corvexin_policy: %s\n", e.what());
    return kUsageError;
  }
  return usage(("unknown action " + action).c_str());
}

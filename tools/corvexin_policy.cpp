// corvexin_policy: the administrator's companion of the command gate. It
// checks a command policy, explains how the gate would decide a command,
// tests a policy against a table of commands with their expected verdicts,
// suggests white-list entries from the refusals in the gate's log, and puts
// a checked policy in place.
// It is never installed set-uid and never runs a command it judges; edit
// runs the administrator's editor.
#include <getopt.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "check.h"
#include "diff.h"
#include "explain.h"
#include "install.h"
#include "role_lookup.h"
#include "role_rights.h"
#include "suggest.h"
#include "test.h"
#include "vocabulary.h"

namespace {

constexpr int kUsageError = 2;

// Each action's synopsis and what it does, as its --help prints them; the
// tool's usage lists them all.
struct Action {
  const char* name;
  const char* synopsis;
  const char* description;
};
const Action kActions[] = {
    {"check",
     "corvexin_policy check [--json] [FILE|-]...\n"
     "       corvexin_policy check [--json] [--accept-warnings] --as-installed FILE",
     "check    reports what each policy FILE (default /etc/cmd_check.json; - standard input)\n"
     "         does that its writer may not expect; exit status 0 clean or notes only,\n"
     "         1 warnings, 2 errors. --as-installed also judges FILE's owner and mode, and\n"
     "         what the gate trusts, as if FILE were /etc/cmd_check.json: the verdict of\n"
     "         install, for a validate command; --accept-warnings: warnings give 0.\n"},
    {"install", "corvexin_policy install [--accept-warnings] FILE",
     "install  checks FILE as installed, shows what it admits that /etc/cmd_check.json does\n"
     "         not, and unless it has errors (or warnings, without --accept-warnings) puts a\n"
     "         copy in its place, the previous policy kept as /etc/cmd_check.json.old;\n"
     "         exit status 0 installed, 1 refused for warnings, 2 refused or failed.\n"},
    {"edit", "corvexin_policy edit [--accept-warnings]",
     "edit     opens a copy of /etc/cmd_check.json in $VISUAL or $EDITOR and installs the\n"
     "         result as install does; exit status as install's, 0 also when unchanged.\n"},
    {"explain",
     "corvexin_policy explain [--json] [--policy FILE] [--cookie COOKIE] [--no-lookup] "
     "[--] COMMAND",
     "explain  decides COMMAND with the gate's own code without running it and tells how;\n"
     "         exit status 0 allowed, 1 refused, 3 undecided (--no-lookup stopped a role "
     "lookup).\n"},
    {"test", "corvexin_policy test [--json] [--coverage] POLICY CASES...",
     "test     decides each case of the CASES files (JSON) under POLICY and compares the verdict\n"
     "         with the case's; --coverage counts the cases that matched each white-list entry;\n"
     "         exit status 0 all passed, 1 some failed, 2 a file is unreadable or malformed.\n"},
    {"diff", "corvexin_policy diff [--json] OLD NEW",
     "diff     shows the command lines that policy NEW admits and OLD did not, those it no\n"
     "         longer admits and those it admits on another role condition, each with an\n"
     "         example; exit status 0 the same, 1 different, 2 a policy does not load.\n"},
    {"suggest", "corvexin_policy suggest [--json] [--log FILE] [--policy FILE]",
     "suggest  proposes a white-list entry for each command line refused in the gate's log\n"
     "         (default /var/varn/log/corvexin_check.log) that no entry of the policy matches;\n"
     "         exit status 0 no warning, 1 warnings, 2 the log cannot be read.\n"},
};

void print_usage(FILE* out) {
  for (const Action& a : kActions) {
    fprintf(out, "%s %s\n", &a == kActions ? "usage:" : "      ", a.synopsis);
  }
  fputs("       corvexin_policy --version\n\n", out);
  for (const Action& a : kActions) fputs(a.description, out);
}

int usage(const char* problem) {
  if (problem != nullptr) fprintf(stderr, "corvexin_policy: %s\n", problem);
  print_usage(stderr);
  return kUsageError;
}

// An option of an action: a flag, or an option that takes a value.
struct Setting {
  const char* name;
  bool* flag;                    // set when the option is given, or
  std::string* value = nullptr;  // the option's value
};

// Parses the options of an action's arguments (argv[0] is the action) into
// settings, as getopt_long finds them. --help prints the action's usage and
// ends the program; so does an unknown option, or one without its value,
// with the tool's usage on standard error and kUsageError.
void parse_options(int argc, char** argv, const std::vector<Setting>& settings) {
  std::vector<option> options;
  for (const Setting& s : settings) {
    const int index = static_cast<int>(options.size());
    options.push_back(
        {s.name, s.flag != nullptr ? no_argument : required_argument, nullptr, index});
  }
  options.push_back({"help", no_argument, nullptr, 'h'});
  options.push_back({});
  opterr = 0;
  for (int c; (c = getopt_long(argc, argv, ":", options.data(), nullptr)) != -1;) {
    if (c == 'h') {
      for (const Action& a : kActions) {
        if (strcmp(a.name, argv[0]) == 0) printf("usage: %s\n\n%s", a.synopsis, a.description);
      }
      exit(0);
    }
    if (c == ':') exit(usage((std::string(argv[optind - 1]) + " needs a value").c_str()));
    if (c == '?') exit(usage(("unknown option " + std::string(argv[optind - 1])).c_str()));
    const Setting& s = settings[static_cast<size_t>(c)];
    if (s.flag != nullptr) {
      *s.flag = true;
    } else {
      *s.value = optarg;
    }
  }
}

int check_main(int argc, char** argv) {
  bool json = false, as_installed = false, accept_warnings = false;
  parse_options(
      argc, argv,
      {{"json", &json}, {"as-installed", &as_installed}, {"accept-warnings", &accept_warnings}});
  std::vector<std::string> files(argv + optind, argv + argc);
  if (as_installed && (files.size() != 1 || files[0] == "-"))
    return usage("check --as-installed takes one file");
  if (accept_warnings && !as_installed) return usage("--accept-warnings goes with --as-installed");
  if (files.empty()) files.push_back(kPolicyPath);
  if (std::count(files.begin(), files.end(), "-") > 1) return usage("check reads - only once");
  return check_command(files, json, as_installed, accept_warnings);
}

// install FILE and edit: --accept-warnings, and for install one file.
int install_main(int argc, char** argv, bool edit) {
  bool accept_warnings = false;
  parse_options(argc, argv, {{"accept-warnings", &accept_warnings}});
  if (edit) return optind == argc ? edit_command(accept_warnings) : usage("edit takes no operand");
  if (argc - optind != 1) return usage("install takes one policy file");
  return install_command(argv[optind], accept_warnings);
}

int explain_main(int argc, char** argv) {
  ExplainOptions options;
  parse_options(argc, argv,
                {{"json", &options.json},
                 {"no-lookup", &options.no_lookup},
                 {"policy", nullptr, &options.policy},
                 {"cookie", nullptr, &options.cookie}});
  if (optind == argc) return usage("explain needs a command line");
  if (argc - optind > 1) return usage("explain takes one command line; quote it as one argument");
  options.command = argv[optind];
  return explain_command(options);
}

int test_main(int argc, char** argv) {
  TestOptions options;
  parse_options(argc, argv, {{"json", &options.json}, {"coverage", &options.coverage}});
  if (argc - optind < 2) return usage("test needs a policy file and at least one case file");
  options.policy = argv[optind];
  options.case_files.assign(argv + optind + 1, argv + argc);
  return test_command(options);
}

int diff_main(int argc, char** argv) {
  bool json = false;
  parse_options(argc, argv, {{"json", &json}});
  if (argc - optind != 2) return usage("diff needs two policy files, OLD and NEW");
  return policy_diff(argv[optind], argv[optind + 1], json);
}

int suggest_main(int argc, char** argv) {
  bool json = false;
  std::string log = kLogPath, policy = kPolicyPath;
  parse_options(argc, argv,
                {{"json", &json}, {"log", nullptr, &log}, {"policy", nullptr, &policy}});
  if (optind < argc) return usage("suggest takes no operand; name the log with --log");
  return suggest_command(log, policy, json);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage(nullptr);
  const std::string action = argv[1];
  if (action == "--help" || action == "-h" || action == "help") {
    print_usage(stdout);
    return 0;
  }
  if (action == "--version") {
    puts("corvexin_policy " CORVEXIN_VERSION);
    return 0;
  }
  // The dry runs' role lookups go through the gate's own transfer.
  set_role_transfer(fetch_role_reply);
  try {
    if (action == "check") return check_main(argc - 1, argv + 1);
    if (action == "explain") return explain_main(argc - 1, argv + 1);
    if (action == "test") return test_main(argc - 1, argv + 1);
    if (action == "suggest") return suggest_main(argc - 1, argv + 1);
    if (action == "diff") return diff_main(argc - 1, argv + 1);
    if (action == "install" || action == "edit")
      return install_main(argc - 1, argv + 1, action == "edit");
  } catch (const std::exception& e) {
    fprintf(stderr, "corvexin_policy: %s\n", e.what());
    return kUsageError;
  }
  return usage(("unknown action " + action).c_str());
}

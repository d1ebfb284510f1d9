// Entry of the gate: puts the process into a known state, asks the decision
// whether the command may run, and becomes the shell or refuses.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <exception>

#include "gate.h"

namespace {

// Closes every inherited descriptor above 2. close_range does it in one call;
// where the kernel lacks it, fall back to closing each possible descriptor.
void close_inherited_descriptors() {
  const long limit = sysconf(_SC_OPEN_MAX);
  if (limit <= 3) return;
  if (close_range(3, static_cast<unsigned>(limit - 1), 0) == 0) return;
  for (long fd = 3; fd < limit; ++fd) close(static_cast<int>(fd));
}

void reset_signal_dispositions() {
  for (int n = 0; n <= 64; ++n) signal(n, SIG_DFL);
}

// Results are deliberately ignored: a gate that is not installed with the
// privilege keeps running with the identity it has.
void take_root_identity() {
  if (setegid(0) != 0) {}
  if (seteuid(0) != 0) {}
  if (setgid(0) != 0) {}
  if (setuid(0) != 0) {}
}

// A failure that escaped the decision (a policy value of a type that cannot be
// converted, nesting too deep, memory exhausted) is a refusal like any other.
int refuse_after_error(const char* command, const char* what) {
  fprintf(stderr, "corvexin_check: %s\n", what);
  log_param(command, 1);
  log_param("check failed, skip cmd\n", 1);
  puts("failed to pass the parameter check");
  return 1;
}

}  // namespace

int main(int argc, char* argv[]) {
  close_inherited_descriptors();
  reset_signal_dispositions();
  umask(022);
  take_root_identity();
  clean_environment();

  if (argc != 2 && argc != 3) {
    fputs("wrong parameter number input", stdout);
    return 1;
  }
  const char* command = argv[1];
  const char* cookie = argc == 3 ? argv[2] : kDefaultCookie;
  if (command == nullptr || cookie == nullptr) return 1;

  int verdict = 1;
  try {
    verdict = check_parameters(command, cookie);
  } catch (const std::exception& e) {
    return refuse_after_error(command, e.what());
  } catch (...) {
    return refuse_after_error(command, "unexpected error");
  }
  if (verdict != 0) {
    puts("failed to pass the parameter check");
    return 1;
  }
  // Standard output is deliberately not flushed: trace text still buffered
  // for a pipe is discarded with the process image.
  execl("/bin/sh", "sh", "-c", command, static_cast<char*>(nullptr));
  return -1;
}

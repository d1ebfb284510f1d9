#include "budget.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <stdexcept>

namespace {

// Replies start with this byte: '+' the handler's reply, '-' why it threw.
constexpr char kReplied = '+', kThrew = '-';

long long now_ms() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
}

// A message: its length (8 bytes) and its bytes. A peer that has gone is an
// error, never a SIGPIPE that would end this process without a word.
bool send_message(int fd, const std::string& bytes) {
  const uint64_t size = bytes.size();
  const std::string message =
      std::string(reinterpret_cast<const char*>(&size), sizeof size) + bytes;
  for (size_t done = 0; done < message.size();) {
    const ssize_t n = send(fd, message.data() + done, message.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads exactly size bytes; with a deadline (a monotonic time in ms, or -1),
// false when it passes.
bool read_exactly(int fd, size_t size, std::string* out, long long deadline_ms) {
  out->assign(size, '\0');
  for (size_t done = 0; done < size;) {
    if (deadline_ms >= 0) {
      const long long left = deadline_ms - now_ms();
      if (left <= 0) return false;
      pollfd p{fd, POLLIN, 0};
      const int ready = poll(&p, 1, static_cast<int>(left > 60000 ? 60000 : left));
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) continue;
    }
    const ssize_t n = read(fd, &(*out)[done], size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

bool receive_message(int fd, std::string* bytes, long long deadline_ms) {
  std::string size_bytes;
  if (!read_exactly(fd, sizeof(uint64_t), &size_bytes, deadline_ms)) return false;
  uint64_t size = 0;
  memcpy(&size, size_bytes.data(), sizeof size);
  return size < (1ULL << 31) && read_exactly(fd, static_cast<size_t>(size), bytes, deadline_ms);
}

// The address space the process has now, in bytes.
unsigned long long address_space() {
  unsigned long long pages = 0;
  std::ifstream("/proc/self/statm") >> pages;
  return pages * static_cast<unsigned long long>(sysconf(_SC_PAGESIZE));
}

// In the child: answers requests on its end of the socket pair until the
// parent closes its own. The CPU timer's signal, SIGPROF, ends the child (its
// default action, restored here whatever the caller left); the memory limit
// makes allocations fail.
[[noreturn]] void serve(int end, const Worker::Handler& handler, const Budget& budget) {
  signal(SIGPROF, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPROF);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  for (std::string request; receive_message(end, &request, -1);) {
    rlimit memory{};
    getrlimit(RLIMIT_AS, &memory);
    rlimit limited = memory;
    const unsigned long long wanted = address_space() + (budget.memory_mib << 20);
    if (memory.rlim_max == RLIM_INFINITY || wanted < memory.rlim_max) limited.rlim_cur = wanted;
    (void)setrlimit(RLIMIT_AS, &limited);
    const long usec = static_cast<long>(budget.cpu_seconds * 1e6);
    itimerval timer{{0, 0}, {usec / 1000000, usec % 1000000}};
    setitimer(ITIMER_PROF, &timer, nullptr);
    std::string reply;
    try {
      reply = kReplied + handler(request);
    } catch (const std::bad_alloc&) {
      reply = std::string(1, kThrew) + "ran out of its memory budget";
    } catch (const std::exception& e) {
      reply = kThrew + std::string(e.what());
    }
    itimerval off{};
    setitimer(ITIMER_PROF, &off, nullptr);
    (void)setrlimit(RLIMIT_AS, &memory);
    // After a failure the child's state is not to be trusted: it ends.
    if (!send_message(end, reply) || reply[0] == kThrew) _exit(0);
  }
  _exit(0);
}

// "1 s of CPU time and 1024 MiB of memory", for messages.
std::string budget_text(const Budget& budget) {
  char seconds[32];
  (void)snprintf(seconds, sizeof seconds, "%g", budget.cpu_seconds);
  return std::string(seconds) + " s of CPU time and " + std::to_string(budget.memory_mib) +
         " MiB of memory";
}

}  // namespace

Worker::Worker(Handler handler, Budget budget) : handler_(std::move(handler)), budget_(budget) {}

Worker::~Worker() {
  stop();
}

bool Worker::start(std::string* why_not) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    *why_not = "cannot make a socket pair: " + std::string(strerror(errno));
    return false;
  }
  // Nothing buffered may be written twice, by the parent and by the child.
  (void)fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    *why_not = "cannot start a process for it: " + std::string(strerror(errno));
    close(ends[0]);
    close(ends[1]);
    return false;
  }
  if (pid == 0) {
    close(ends[0]);
    serve(ends[1], handler_, budget_);
  }
  close(ends[1]);
  pid_ = pid;
  socket_ = ends[0];
  return true;
}

void Worker::stop(int* status) {
  if (pid_ < 0) return;
  close(socket_);
  kill(pid_, SIGKILL);
  while (waitpid(pid_, status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
}

bool Worker::ask(const std::string& request, std::string* reply, std::string* why_not) {
  if (pid_ < 0 && !start(why_not)) return false;
  // A child starved of CPU by a busy machine still answers; one that
  // neither answers nor dies (stopped) is ended after this long.
  const long long asked = now_ms();
  const long long deadline = asked + 10000 + static_cast<long long>(budget_.cpu_seconds * 20000);
  std::string message;
  if (send_message(socket_, request) && receive_message(socket_, &message, deadline) &&
      !message.empty()) {
    if (message[0] == kReplied) {
      *reply = message.substr(1);
      return true;
    }
    *why_not = message.substr(1);
    stop();
    return false;
  }
  // No reply: the child died, or is past the deadline; either way it is
  // ended now, and what ended it said.
  int status = 0;
  stop(&status);
  if (now_ms() >= deadline) {
    *why_not =
        "gave no answer in " + std::to_string((now_ms() - asked) / 1000) + " s and was stopped";
  } else if (WIFSIGNALED(status) && (WTERMSIG(status) == SIGPROF || WTERMSIG(status) == SIGXCPU)) {
    *why_not = "passed its budget of " + budget_text(budget_);
  } else if (WIFSIGNALED(status)) {
    *why_not = std::string("ended by signal ") + strsignal(WTERMSIG(status)) + " (its budget is " +
               budget_text(budget_) + ")";
  } else {
    *why_not = "ended without an answer";
  }
  return false;
}

void put_field(std::string* out, const std::string& field) {
  *out += std::to_string(field.size());
  *out += ':';
  *out += field;
}

bool take_field(const std::string& in, size_t* at, std::string* field) {
  const size_t colon = in.find(':', *at);
  if (colon == std::string::npos) return false;
  size_t size = 0;
  const char* digits_end = in.data() + colon;
  const auto [end, error] = std::from_chars(in.data() + *at, digits_end, size);
  if (error != std::errc() || end != digits_end || size > in.size() - colon - 1) return false;
  *field = in.substr(colon + 1, size);
  *at = colon + 1 + size;
  return true;
}

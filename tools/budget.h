// Work that may not end in reasonable time or memory, such as turning a
// pattern into a deterministic automaton (which libfa cannot stop half-way),
// done in a child process under a budget of CPU time and memory that it
// cannot overrun: past the budget the child dies, and its caller learns why.
#pragma once

#include <sys/types.h>

#include <functional>
#include <string>

struct Budget {
  double cpu_seconds;        // CPU time of one request, user and system
  unsigned long memory_mib;  // address space one request may add
};
// What each entry of a policy gets: its analysis ends well within a second on
// everyday patterns, and those beyond it grow exponentially.
constexpr Budget kEntryBudget{1.0, 1024};

// A child process that answers requests one by one with the same handler,
// keeping what the handler keeps between requests (built automata). Each
// request runs under the budget; a child that passes it, or fails, is
// replaced by a fresh one (forked from this process again, so it starts
// from the state the caller has now) at the next request.
class Worker {
 public:
  using Handler = std::function<std::string(const std::string& request)>;
  explicit Worker(Handler handler, Budget budget = kEntryBudget);
  ~Worker();
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // The handler's reply to request; false, with why there is none, when the
  // child passed its budget, threw or died.
  bool ask(const std::string& request, std::string* reply, std::string* why_not);

 private:
  bool start(std::string* why_not);
  // Ends the child, if any, and waits for it; *status its wait status.
  void stop(int* status = nullptr);
  Handler handler_;
  Budget budget_;
  pid_t pid_ = -1;
  int socket_ = -1;  // this process's end of the socket pair it shares with the child
};

// Fields of requests and replies: each a length and its bytes.
void put_field(std::string* out, const std::string& field);
// The next field at *at; false at the end or on a malformed field.
bool take_field(const std::string& in, size_t* at, std::string* field);
// A record: its fields, one after another; false when one cannot be taken.
template <typename... Fields>
void put_fields(std::string* out, const Fields&... fields) {
  (put_field(out, fields), ...);
}
template <typename... Fields>
bool take_fields(const std::string& in, size_t* at, Fields*... fields) {
  return (take_field(in, at, fields) && ...);
}

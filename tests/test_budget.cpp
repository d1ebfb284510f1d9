// The policy tool's worker: a child process that answers requests under a
// budget, and is replaced when it fails.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "budget.h"

namespace {

// A child that has gone between two requests (killed by the machine's
// memory killer or by hand) costs that request, not the tool: asking it
// again says why there is no answer, and the request after that gets a new
// child.
TEST(Worker, AChildGoneBetweenRequestsIsReplaced) {
  Worker worker([](const std::string&) { return std::to_string(getpid()); }, kEntryBudget);
  std::string first, reply, why_not;
  ASSERT_TRUE(worker.ask("pid", &first, &why_not)) << why_not;
  const auto child = static_cast<pid_t>(std::stol(first));
  ASSERT_EQ(kill(child, SIGKILL), 0);
  // Until it is dead and its end of the socket closed; the worker reaps it.
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(worker.ask("pid", &reply, &why_not));
  EXPECT_NE(why_not.find("ended by signal"), std::string::npos) << why_not;
  ASSERT_TRUE(worker.ask("pid", &reply, &why_not)) << why_not;
  EXPECT_NE(reply, first);
}

// The fields of requests and replies: what put_field writes, take_field
// reads back whole (a field may hold the separator itself); a field whose
// length is not a number, runs past the message or does not fit size_t is
// no field (4294967297 wraps to 1 in a 32-bit size_t).
TEST(Worker, FieldsReadBackOnlyWhole) {
  std::string message;
  for (const char* field : {"", "a:b", "12:x"}) put_field(&message, field);
  size_t at = 0;
  for (const char* field : {"", "a:b", "12:x"}) {
    std::string got;
    ASSERT_TRUE(take_field(message, &at, &got));
    EXPECT_EQ(got, field);
  }
  std::string rest;
  EXPECT_FALSE(take_field(message, &at, &rest));
  for (const char* bad : {"3", "x:abc", "-1:a", "4:abc", "4294967297:a"}) {
    size_t start = 0;
    EXPECT_FALSE(take_field(bad, &start, &rest)) << bad;
  }
}

}  // namespace

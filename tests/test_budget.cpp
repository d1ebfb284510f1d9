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

}  // namespace

// The policy tool's worker: a child process that answers requests under a
// budget, and is replaced when it fails.
#include <gtest/gtest.h>
#include <signal.h>
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
  ASSERT_EQ(kill(static_cast<pid_t>(std::stol(first)), SIGKILL), 0);
  usleep(100000);  // until the child is gone and its end of the socket closed
  EXPECT_FALSE(worker.ask("pid", &reply, &why_not));
  EXPECT_NE(why_not.find("ended by signal"), std::string::npos) << why_not;
  ASSERT_TRUE(worker.ask("pid", &reply, &why_not)) << why_not;
  EXPECT_NE(reply, first);
}

}  // namespace

// The service's start-up when the Service Control Manager's answers fail: a
// manager that does not know the freshly started process yet answers "not
// active", which must not be echoed back as "stopped".
#include <vector>

#include "service_fixture.h"

namespace {

using fakes::ScCall;
using States = std::vector<std::uint32_t>;

constexpr std::uint32_t kAccessDenied = 5;

struct StartFaultCase {
  const char* what;
  ScCall call;
  std::uint32_t error;
  int occurrence;  // 0: every call
};

class ServiceStartFaultTest
    : public ServiceFixture,
      public ::testing::WithParamInterface<StartFaultCase> {};

TEST_P(ServiceStartFaultTest, ReachesRunningWithoutReportingStopped) {
  const StartFaultCase& c = GetParam();
  scm().AddService(kName, kServiceStartPending);
  scm().Fail(c.call, c.error, c.occurrence);
  system().sleepBudget = 0;  // ends the wait loop at its first sleep

  EXPECT_EQ(ServiceMainUntilSleepBudget(), 0u);

  States accepted;
  for (const auto& report : runtime().reports) {
    if (report.accepted) accepted.push_back(report.status.currentState);
  }
  ASSERT_FALSE(accepted.empty()) << c.what;
  EXPECT_EQ(accepted.front(), kServiceStartPending) << c.what;
  EXPECT_EQ(accepted.back(), kServiceRunning) << c.what;
  for (const std::uint32_t state : accepted) {
    EXPECT_NE(state, kServiceStopped) << c.what;
  }
  EXPECT_EQ(stub::Monitor().starts, 1) << c.what;
  EXPECT_EQ(scm().HandleProblems(), "") << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ServiceStartFaultTest,
    ::testing::Values(
        StartFaultCase{"first query: not active", ScCall::kInterrogate,
                       kErrorServiceNotActive, 1},
        StartFaultCase{"second query: not active", ScCall::kInterrogate,
                       kErrorServiceNotActive, 2},
        StartFaultCase{"every query: not active", ScCall::kInterrogate,
                       kErrorServiceNotActive, 0},
        StartFaultCase{"every query refused", ScCall::kInterrogate,
                       kAccessDenied, 0},
        StartFaultCase{"no manager", ScCall::kOpenManager, kAccessDenied, 0},
        StartFaultCase{"service not opened", ScCall::kOpenService,
                       kAccessDenied, 0}));

}  // namespace

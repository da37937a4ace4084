// Every Service Control Manager call of every operation failing in turn: the
// operation either reports that call's code (6 for the manager) or absorbs
// the failure and still gets its job done, and on every path each handle is
// closed exactly once, a service's before its manager's.
#include <map>
#include <string>
#include <vector>

#include "service_fixture.h"

namespace {

using fakes::ScCall;

constexpr std::uint32_t kRefused = 5;  // access denied
constexpr std::uint32_t kAbsent = 0;   // no service installed

using Operation = std::uint32_t (*)();
using JobDone = bool (*)();

bool Installed() { return fakes::ServiceControl().Has(L"didurozir"); }
bool Removed() { return !Installed(); }
std::uint32_t State() {
  return Installed() ? fakes::ServiceControl().services.at(L"didurozir").state
                     : 0;
}
bool Running() { return State() == kServiceRunning; }
bool Stopped() { return State() == kServiceStopped; }

struct SweepCase {
  const char* what;
  Operation operation;
  std::uint32_t initialState;  // kAbsent: not installed
  JobDone jobDone;
};

class ServiceControlFaultTest
    : public ServiceFixture,
      public ::testing::WithParamInterface<SweepCase> {
 protected:
  // The service as the case starts it, with a start and a stop that take a
  // few polls to arrive.
  void Arrange() {
    SetUp();
    const SweepCase& c = GetParam();
    if (c.initialState == kAbsent) return;
    fakes::FakeService& service = scm().AddService(kName, c.initialState);
    service.stateAfterStart = kServiceStartPending;
    service.stateAfterStop = kServiceStopPending;
    service.upcomingStates = {c.initialState, c.initialState, 0, 0, 0};
    // The check sees the initial state, then two polls in transition.
    service.upcomingStates[2] = service.upcomingStates[3] =
        c.initialState == kServiceRunning ? kServiceStopPending
                                          : kServiceStartPending;
    service.upcomingStates[4] =
        c.initialState == kServiceRunning ? kServiceStopped : kServiceRunning;
  }
};

TEST_P(ServiceControlFaultTest, EachFailingCallIsReportedOrAbsorbed) {
  const SweepCase& c = GetParam();
  Arrange();
  ASSERT_EQ(c.operation(), 0u) << c.what << ": the run without failures";
  ASSERT_TRUE(c.jobDone());
  const std::map<ScCall, int> calls = scm().calls;

  int injected = 0;
  for (const auto& [call, count] : calls) {
    for (int occurrence = 1; occurrence <= count; ++occurrence) {
      Arrange();
      scm().Fail(call, kRefused, occurrence);
      const std::uint32_t result = c.operation();
      // A refused manager stands for 6, except the separate one of the
      // uninstallation's state check, which reports the refusal's own code.
      const bool checkManager =
          c.operation == UninstallService && occurrence == 2;
      const std::uint32_t ownCode =
          call == ScCall::kOpenManager && !checkManager ? kErrorInvalidHandle
                                                        : kRefused;
      const std::string where = std::string(c.what) + ", call kind " +
                                std::to_string(static_cast<int>(call)) + " #" +
                                std::to_string(occurrence);
      EXPECT_TRUE(result == ownCode || result == 0)
          << where << ": result " << result;
      if (result == 0) {
        EXPECT_TRUE(c.jobDone()) << where << ": success claimed";
      }
      EXPECT_EQ(scm().HandleProblems(), "") << where;
      EXPECT_EQ(scm().OpenHandles(), 0) << where;
      EXPECT_EQ(scm().unknownCloses, 0) << where;
      ++injected;
    }
  }
  EXPECT_GE(injected, 2) << c.what;
  RecordProperty("injected", injected);
}

INSTANTIATE_TEST_SUITE_P(
    Operations, ServiceControlFaultTest,
    ::testing::Values(
        SweepCase{"install", InstallService, kAbsent, Installed},
        SweepCase{"uninstall stopped", UninstallService, kServiceStopped,
                  Removed},
        SweepCase{"uninstall running", UninstallService, kServiceRunning,
                  Removed},
        SweepCase{"start", StartServiceAndWait, kServiceStopped, Running},
        SweepCase{"stop", StopServiceAndWait, kServiceRunning, Stopped}));

// The failures the sweep finds absorbed, each named with the reason it may be.
struct AbsorbedCase {
  const char* what;
  Operation operation;
  std::uint32_t initialState;
  ScCall call;
  int occurrence;
};

class AbsorbedFailureTest : public ServiceFixture,
                            public ::testing::WithParamInterface<AbsorbedCase> {
};

TEST_P(AbsorbedFailureTest, SucceedsAnyway) {
  const AbsorbedCase& c = GetParam();
  if (c.initialState != kAbsent) {
    fakes::FakeService& service = scm().AddService(kName, c.initialState);
    service.stateAfterStart = kServiceRunning;
    service.stateAfterStop = kServiceStopped;
  }
  scm().Fail(c.call, kRefused, c.occurrence);
  EXPECT_EQ(c.operation(), 0u) << c.what;
  EXPECT_EQ(scm().HandleProblems(), "") << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, AbsorbedFailureTest,
    ::testing::Values(
        // The description and the failure actions are extras.
        AbsorbedCase{"install: description", InstallService, kAbsent,
                     ScCall::kSetDescription, 1},
        AbsorbedCase{"install: failure actions", InstallService, kAbsent,
                     ScCall::kSetFailureActions, 1},
        // A poll that fails counts as one more poll without the state.
        AbsorbedCase{"start: first poll", StartServiceAndWait, kServiceStopped,
                     ScCall::kInterrogate, 2},
        AbsorbedCase{"stop: first poll's manager", StopServiceAndWait,
                     kServiceRunning, ScCall::kOpenManager, 3}));

}  // namespace

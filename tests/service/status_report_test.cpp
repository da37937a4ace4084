// Every status report the service sends, field by field: the service type,
// no checkpoint, a wait hint only on a shutdown's stop pending, and an exit
// code only on the stop that ends a service whose monitor could not start.
#include <vector>

#include "monitor/monitor.h"
#include "service_fixture.h"

namespace {

struct Expected {
  std::uint32_t state;
  std::uint32_t exitCode;
  std::uint32_t waitHint = 0;
};

void ExpectReports(const std::vector<Expected>& expected, const char* what) {
  const auto& reports = fakes::ServiceRuntime().reports;
  ASSERT_EQ(reports.size(), expected.size()) << what;
  for (std::size_t i = 0; i < reports.size(); ++i) {
    const platform::ServiceStatus& status = reports[i].status;
    EXPECT_EQ(status.serviceType, 16u) << what << ", report " << i;
    EXPECT_EQ(status.currentState, expected[i].state) << what << ", " << i;
    EXPECT_EQ(status.win32ExitCode, expected[i].exitCode) << what << ", " << i;
    EXPECT_EQ(status.serviceSpecificExitCode, 0u) << what << ", " << i;
    EXPECT_EQ(status.checkPoint, 0u) << what << ", report " << i;
    EXPECT_EQ(status.waitHint, expected[i].waitHint) << what << ", " << i;
  }
}

using StatusReportTest = ServiceFixture;

TEST_F(StatusReportTest, EveryControlsReportsCarryNoProgressOrExitCode) {
  ServiceSettings.statusHandle = platform::RegisterServiceControlHandler(
      kName, ServiceCtrlHandler, nullptr);
  ServiceSettings.controlsAccepted = 7;
  const struct {
    const char* what;
    std::uint32_t control;
    std::vector<Expected> reports;
  } cases[] = {
      {"stop", kControlStop, {{3, 0}, {1, 0}}},
      {"pause", kControlPause, {{6, 0}, {7, 0}}},
      {"continue", kControlContinue, {{5, 0}, {4, 0}}},
      // Its stopped report comes from the service main thread.
      {"shutdown", kControlShutdown, {{3, 0, 5000}}},
  };
  for (const auto& c : cases) {
    runtime().reports.clear();
    ServiceCtrlHandler(c.control, 0, nullptr, nullptr);
    ExpectReports(c.reports, c.what);
  }
  stopRequested = false;
}

TEST_F(StatusReportTest, AMonitorThatCantStartEndsWithItsExitCode) {
  scm().AddService(kName, 1);
  stub::Monitor().failStart = true;
  ServiceMain(0, nullptr);
  ExpectReports({{2, 0}, {2, 0}, {2, 0}, {1, 1064}}, "monitor not started");
}

}  // namespace

#include <string>
#include <vector>

#include "fakes/fake_event_log.h"
#include "monitor/monitor.h"
#include "service_fixture.h"

namespace {

using States = std::vector<std::uint32_t>;

class ServiceMainTest : public ServiceFixture {
 protected:
  // The states and accepted controls of every report, accepted or not.
  static States AllStates() {
    States states;
    for (const auto& report : fakes::ServiceRuntime().reports) {
      states.push_back(report.status.currentState);
    }
    return states;
  }
  static States AllControlsAccepted() {
    States accepted;
    for (const auto& report : fakes::ServiceRuntime().reports) {
      accepted.push_back(report.status.controlsAccepted);
    }
    return accepted;
  }
};

// The start: report a, then c and e with whatever the state query gives,
// then the monitor, then running; controlsAccepted 0, 1, 7, 7.
struct StartCase {
  const char* what;
  bool installed;
  States upcomingStates;  // what the interrogations at c and e find
  States reported;        // states of reports a, c, e and g
  States accepted;        // the platform accepted a, c, e, g
};

class StartSequenceTest : public ServiceMainTest,
                          public ::testing::WithParamInterface<StartCase> {};

TEST_P(StartSequenceTest, ReportsItsWayToRunning) {
  const StartCase& c = GetParam();
  if (c.installed) {
    scm().AddService(kName, 1).upcomingStates.assign(c.upcomingStates.begin(),
                                                     c.upcomingStates.end());
  }
  system().sleepBudget = 0;  // ends the wait loop at its first sleep

  EXPECT_EQ(ServiceMainUntilSleepBudget(), 0u);

  ASSERT_EQ(runtime().reports.size(), 4u);
  EXPECT_EQ(AllStates(), c.reported) << c.what;
  EXPECT_EQ(AllControlsAccepted(), (States{0, 1, 7, 7}));
  for (std::size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(runtime().reports[i].accepted, c.accepted[i] != 0) << i;
    EXPECT_EQ(runtime().reports[i].status.serviceType, 16u);
    EXPECT_EQ(runtime().reports[i].status.win32ExitCode, 0u);
    EXPECT_EQ(runtime().reports[i].status.checkPoint, 0u);
    EXPECT_EQ(runtime().reports[i].status.waitHint, 0u);
  }
  EXPECT_EQ(stub::Monitor().starts, 1);
  EXPECT_EQ(stub::Monitor().reportsBeforeStart, 3u);  // after e, before g
  EXPECT_EQ(stub::Monitor().loads, 1);
  EXPECT_EQ(stub::Monitor().registrationsBeforeLoad, 0);
  EXPECT_EQ(runtime().registeredName, L"didurozir");
  EXPECT_EQ(ServiceSettings.controlsAccepted.load(), 7u);
}

INSTANTIATE_TEST_SUITE_P(
    Queries, StartSequenceTest,
    ::testing::Values(
        // Start pending takes no interrogation: the query gives 0, which is
        // no state to tell the manager.
        StartCase{"state unknown", true, {}, {2, 2, 2, 4}, {1, 1, 1, 1}},
        StartCase{"not installed", false, {}, {2, 2, 2, 4}, {1, 1, 1, 1}},
        StartCase{"state known", true, {4, 4}, {2, 4, 4, 4}, {1, 1, 1, 1}},
        StartCase{
            "paused meanwhile", true, {4, 7}, {2, 4, 7, 4}, {1, 1, 1, 1}}));

TEST_F(ServiceMainTest, RestrictsDllLoadingFirst) {
  runtime().failRegistration = true;
  ServiceMain(0, nullptr);
  EXPECT_EQ(system().dllSearchRestrictions, 1);
}

TEST_F(ServiceMainTest, AFailedRegistrationEndsWithoutReportOrMonitor) {
  scm().AddService(kName, 2);
  runtime().failRegistration = true;
  EXPECT_EQ(ServiceMain(0, nullptr), 0u);
  EXPECT_TRUE(runtime().reports.empty());
  EXPECT_EQ(stub::Monitor().starts, 0);
  EXPECT_TRUE(system().sleeps.empty());
  EXPECT_EQ(ServiceSettings.statusHandle.load(), nullptr);
}

TEST_F(ServiceMainTest, ReturnsOnceStoppedAndSleepsLongerWhenPaused) {
  scm().AddService(kName, 1);
  system().onSleep = [] {
    const std::size_t n = fakes::System().sleeps.size();
    if (n == 1) fakes::ServiceRuntime().SendControl(kControlPause);
    if (n == 3) fakes::ServiceRuntime().SendControl(kControlContinue);
    if (n == 4) fakes::ServiceRuntime().SendControl(kControlStop);
  };
  EXPECT_EQ(ServiceMain(0, nullptr), 0u);
  EXPECT_EQ(system().sleeps, (States{500, 1000, 1000, 500}));
  EXPECT_EQ(runtime().AcceptedStates(), (States{2, 2, 2, 4, 6, 7, 5, 4, 3, 1}));
  EXPECT_EQ(stub::Monitor().starts, 2);
  EXPECT_EQ(stub::Monitor().stopRequests, 2);
}

// A refused report is not taken for told: the service ends only once the
// manager has accepted that it stopped, and until then it goes on waiting.
TEST_F(ServiceMainTest, ARefusedStoppedReportDoesNotEndTheService) {
  scm().AddService(kName, 1);
  runtime().refuseReport = 6;  // after 2, 2, 2, 4 and the stop's 3
  system().onSleep = [] {
    if (fakes::System().sleeps.size() == 1) {
      fakes::ServiceRuntime().SendControl(kControlStop);
    }
  };
  system().sleepBudget = 3;
  EXPECT_EQ(ServiceMainUntilSleepBudget(), 0u);
  EXPECT_EQ(system().sleeps.size(), 3u) << "still waiting";
  EXPECT_EQ(runtime().AcceptedStates(), (States{2, 2, 2, 4, 3}));
}

// Under Wine a control that reaches the manager while it hands a stop over
// gets the process killed; the service's own wait must send none.
TEST_F(ServiceMainTest, WaitsOnItsOwnReportsWithoutSendingControls) {
  scm().AddService(kName, 1);
  system().onSleep = [] {
    if (fakes::System().sleeps.size() == 3) {
      fakes::ServiceRuntime().SendControl(kControlStop);
    }
  };
  EXPECT_EQ(ServiceMain(0, nullptr), 0u);
  EXPECT_EQ(system().sleeps, States(3, 500));
  // The start-up's two queries only.
  EXPECT_EQ(scm().services[kName].controls, (States{4, 4}));
}

TEST_F(ServiceMainTest, KeepsWaitingWhileTheStateIsUnknown) {
  // Not installed: every query gives 0, neither stopped nor paused.
  system().sleepBudget = 5;
  EXPECT_EQ(ServiceMainUntilSleepBudget(), 0u);
  EXPECT_EQ(system().sleeps, States(5, 500));
}

TEST_F(ServiceMainTest, AMonitorThatCantStartStopsTheService) {
  scm().AddService(kName, 1);
  stub::Monitor().failStart = true;
  EXPECT_EQ(ServiceMain(0, nullptr), 0u);
  ASSERT_FALSE(runtime().reports.empty());
  const auto& last = runtime().reports.back();
  EXPECT_EQ(last.status.currentState, kServiceStopped);
  EXPECT_EQ(last.status.win32ExitCode, 1064u);  // ERROR_EXCEPTION_IN_SERVICE
  EXPECT_TRUE(system().sleeps.empty());
  // Alerts match on the ID and the level.
  ASSERT_EQ(fakes::EventLog().Ids(), States{1003});
  EXPECT_EQ(fakes::EventLog().events[0].type, platform::EventType::kError);
  EXPECT_TRUE(fakes::EventLog().events[0].inserts.empty());
}

// A report the manager refuses is passed over: the start and the stop run
// their course all the same.
TEST_F(ServiceMainTest, ARefusedReportChangesNothing) {
  // Start pending, twice with the queried state, running, stop pending.
  for (std::size_t refused = 0; refused < 5; ++refused) {
    SCOPED_TRACE(refused);
    SetUp();
    scm().AddService(kName, 1);
    runtime().refuseReport = refused + 1;
    system().sleepBudget = 10;  // a service that never ends fails the test
    system().onSleep = [] {
      if (fakes::System().sleeps.size() == 2) {
        fakes::ServiceRuntime().SendControl(kControlStop);
      }
    };

    EXPECT_EQ(ServiceMainUntilSleepBudget(), 0u);

    EXPECT_EQ(AllStates(), (States{2, 2, 2, 4, 3, 1}));
    EXPECT_FALSE(runtime().reports[refused].accepted);
    EXPECT_EQ(runtime().AcceptedStates().size(), 5u);
    EXPECT_EQ(stub::Monitor().starts, 1);
    EXPECT_EQ(stub::Monitor().stopRequests, 1);
    EXPECT_EQ(fakes::EventLog().Ids(), States{1010});
  }
}

TEST_F(ServiceMainTest, AnyFailureAfterRegistrationIsReportedAsStopped) {
  scm().AddService(kName, 1);
  stub::Monitor().startThrowsOther = true;
  EXPECT_NE(ServiceMain(0, nullptr), 0u);
  ASSERT_FALSE(runtime().reports.empty());
  const auto& last = runtime().reports.back();
  EXPECT_EQ(last.status.currentState, kServiceStopped);
  EXPECT_EQ(last.status.win32ExitCode, 1064u);
}

// In a console: nothing registered, every report refused, the monitor runs,
// and the loop only chooses its sleep by the installed service's state.
struct ConsoleCase {
  const char* what;
  bool installed;
  std::uint32_t state;
  std::uint32_t sleep;
};

class ConsoleModeTest : public ServiceMainTest,
                        public ::testing::WithParamInterface<ConsoleCase> {};

TEST_P(ConsoleModeTest, RunsUnregisteredAndNeverLeavesTheLoop) {
  const ConsoleCase& c = GetParam();
  if (c.installed) scm().AddService(kName, c.state);
  system().hasConsole = true;
  system().sleepBudget = 4;

  EXPECT_EQ(ServiceMainUntilSleepBudget(), 0u);

  EXPECT_EQ(runtime().registrations, 0);
  EXPECT_EQ(runtime().AcceptedStates(), States{});
  EXPECT_EQ(runtime().reports.size(), 4u);
  EXPECT_EQ(stub::Monitor().starts, 1);
  EXPECT_EQ(stub::Monitor().loads, 1);
  // Ended only by the sleep budget: a stopped service does not end it.
  EXPECT_EQ(system().sleeps, States(4, c.sleep)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(States, ConsoleModeTest,
                         ::testing::Values(ConsoleCase{"paused", true, 7, 1000},
                                           ConsoleCase{"running", true, 4, 500},
                                           ConsoleCase{"stopped", true, 1, 500},
                                           ConsoleCase{"not installed", false,
                                                       1, 500}));

// The handler: pending state, the monitor, final state; nothing else.
struct ControlCase {
  const char* what;
  std::uint32_t control;
  States reported;
  int stopRequests;
  int starts;
  States events;  // written to the Event Log
};

class HandlerTest : public ServiceMainTest,
                    public ::testing::WithParamInterface<ControlCase> {
 protected:
  void SetUp() override {
    ServiceMainTest::SetUp();
    ServiceSettings.statusHandle = platform::RegisterServiceControlHandler(
        kName, ServiceCtrlHandler, nullptr);
    ServiceSettings.controlsAccepted = 3;
  }
};

TEST_P(HandlerTest, ReportsAndTellsTheMonitor) {
  const ControlCase& c = GetParam();
  EXPECT_EQ(ServiceCtrlHandler(c.control, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(AllStates(), c.reported) << c.what;
  for (const auto& report : runtime().reports) {
    EXPECT_TRUE(report.accepted);
    EXPECT_EQ(report.status.controlsAccepted, 3u);
  }
  EXPECT_EQ(stub::Monitor().stopRequests, c.stopRequests);
  EXPECT_EQ(stub::Monitor().starts, c.starts);
  EXPECT_EQ(fakes::EventLog().Ids(), c.events) << c.what;
  EXPECT_EQ(system().dllSearchRestrictions, 1);
  EXPECT_TRUE(system().sleeps.empty());  // never waits
}

INSTANTIATE_TEST_SUITE_P(
    Controls, HandlerTest,
    ::testing::Values(ControlCase{"stop", 1, {3, 1}, 1, 0, {1010}},
                      ControlCase{"pause", 2, {6, 7}, 1, 0, {1011}},
                      ControlCase{"continue", 3, {5, 4}, 0, 1, {1012}},
                      ControlCase{"interrogate", 4, {}, 0, 0, {}},
                      // The rest is the service main thread's (below).
                      ControlCase{"shutdown", 5, {3}, 1, 0, {}},
                      ControlCase{"parameter change", 6, {}, 0, 0, {}},
                      ControlCase{"user defined", 200, {}, 0, 0, {}}));

// The final report follows the pending one at once: the control's event
// comes after it, as a slow or stopping Event Log service (it stops at system
// shutdown too) must not hold it. And a stop reaches the monitor before the
// manager hears that the service stopped.
struct OrderCase {
  const char* what;
  std::uint32_t control;
  void (*arrange)();
  std::vector<std::string> sequence;
};

class HandlerOrderTest : public ServiceMainTest,
                         public ::testing::WithParamInterface<OrderCase> {
 protected:
  void SetUp() override {
    ServiceMainTest::SetUp();
    ServiceSettings.statusHandle = platform::RegisterServiceControlHandler(
        kName, ServiceCtrlHandler, nullptr);
  }
};

TEST_P(HandlerOrderTest, WritesTheEventAfterTheFinalReport) {
  const OrderCase& c = GetParam();
  if (c.arrange != nullptr) c.arrange();
  std::vector<std::string> sequence;
  std::size_t eventsSeen = 0;
  const auto takeEvents = [&] {
    const auto& log = fakes::EventLog().events;
    for (; eventsSeen < log.size(); ++eventsSeen) {
      sequence.push_back("event " + std::to_string(log[eventsSeen].id));
    }
  };
  runtime().onReport = [&](const platform::ServiceStatus& status) {
    takeEvents();
    std::string line = "report " + std::to_string(status.currentState);
    if (status.currentState == kServiceStopped ||
        status.currentState == kServicePaused) {
      // Told by the call or, when that failed, by the flag.
      const bool told =
          (stub::Monitor().stopRequests > 0 && !stub::Monitor().stopThrows) ||
          stopRequested;
      if (c.control != kControlContinue && !told) line += " (monitor running)";
    }
    sequence.push_back(line);
  };

  EXPECT_EQ(ServiceCtrlHandler(c.control, 0, nullptr, nullptr), 0u);
  takeEvents();

  EXPECT_EQ(sequence, c.sequence) << c.what;
  stopRequested = false;
}

INSTANTIATE_TEST_SUITE_P(
    Controls, HandlerOrderTest,
    ::testing::Values(
        OrderCase{"stop", 1, nullptr, {"report 3", "report 1", "event 1010"}},
        OrderCase{"pause", 2, nullptr, {"report 6", "report 7", "event 1011"}},
        OrderCase{
            "continue", 3, nullptr, {"report 5", "report 4", "event 1012"}},
        OrderCase{"continue without a monitor",
                  3,
                  [] { stub::Monitor().failStart = true; },
                  {"report 5", "report 7", "event 1012", "event 1003"}},
        OrderCase{"continue failing otherwise",
                  3,
                  [] { stub::Monitor().startThrowsOther = true; },
                  {"report 5", "report 7", "event 1012", "event 1003"}},
        OrderCase{"stop, the monitor's stop failing",
                  1,
                  [] { stub::Monitor().stopThrows = true; },
                  {"report 3", "report 1", "event 1010"}},
        OrderCase{"pause, the monitor's stop failing",
                  2,
                  [] { stub::Monitor().stopThrows = true; },
                  {"report 6", "report 7", "event 1011"}}));

TEST_F(HandlerTest, StaysPausedWhenTheMonitorCantRestart) {
  stub::Monitor().failStart = true;
  EXPECT_EQ(ServiceCtrlHandler(kControlContinue, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(AllStates(), (States{5, 7}));
  EXPECT_EQ(fakes::EventLog().Ids(), (States{1012, 1003}));
}

// Whatever fails on the way, a stop or pause ends in its final report and
// the monitor is told by its flag.
TEST_F(HandlerTest, SendsTheFinalReportWhenStoppingTheMonitorFails) {
  stub::Monitor().stopThrows = true;
  const struct {
    std::uint32_t control;
    States reported;
  } cases[] = {{kControlStop, {3, 1}},
               {kControlShutdown, {3}},  // stopped by the service main thread
               {kControlPause, {6, 7}}};
  for (const auto& c : cases) {
    runtime().reports.clear();
    stopRequested = false;
    EXPECT_EQ(ServiceCtrlHandler(c.control, 0, nullptr, nullptr), 0u);
    EXPECT_EQ(AllStates(), c.reported) << c.control;
    EXPECT_TRUE(stopRequested) << c.control;
  }
  stopRequested = false;
}

// At a system shutdown the record of a recovery under way comes before the
// stopped report: the handler reports stop pending with a wait hint (Windows
// gives a service 5 s then) and tells the monitor; the service main thread
// waits for the monitor, 3 s at most, reports stopped, then writes 1013.
TEST_F(ServiceMainTest, AtShutdownTheMonitorsRecordComesBeforeTheStop) {
  scm().AddService(kName, 1);
  system().onSleep = [] {
    if (fakes::System().sleeps.size() == 1) {
      fakes::ServiceRuntime().SendControl(kControlShutdown);
    }
  };
  std::size_t eventsAtStop = 99;
  runtime().onReport = [&](const platform::ServiceStatus& status) {
    if (status.currentState == kServiceStopped) {
      eventsAtStop = fakes::EventLog().events.size();
    }
  };
  EXPECT_EQ(ServiceMain(0, nullptr), 0u);
  EXPECT_EQ(runtime().AcceptedStates(), (States{2, 2, 2, 4, 3, 1}));
  EXPECT_EQ(runtime().reports[4].status.waitHint, 5000u);
  EXPECT_EQ(stub::Monitor().stopRequests, 1);
  EXPECT_EQ(stub::Monitor().endWaits, (std::vector<std::uint32_t>{3000}));
  EXPECT_EQ(stub::Monitor().reportsBeforeEndWait, (std::vector<std::size_t>{5}))
      << "after stop pending, before stopped";
  EXPECT_EQ(eventsAtStop, 0u);
  EXPECT_EQ(fakes::EventLog().Ids(), (States{1013}));
}

TEST_F(HandlerTest, PauseThenContinueResumesSupervision) {
  ServiceCtrlHandler(kControlPause, 0, nullptr, nullptr);
  ServiceCtrlHandler(kControlContinue, 0, nullptr, nullptr);
  EXPECT_EQ(AllStates(), (States{6, 7, 5, 4}));
  EXPECT_EQ(stub::Monitor().stopRequests, 1);
  EXPECT_EQ(stub::Monitor().starts, 1);
}

}  // namespace

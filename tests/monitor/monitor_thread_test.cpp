// The monitor thread for real, with emulated processes and commands; its
// sleeps really wait until interrupted.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fakes.h"
#include "monitor/monitor.h"
#include "monitor/monitor_thread_fixture.h"

namespace {

using fakes::ThreadFake;

TEST_F(MonitorThreadTest, FirstCycleRunsAtOnceAndStartWhileRunningDoesNothing) {
  StartMonitor();
  ASSERT_TRUE(WaitForSleeps(1));
  EXPECT_EQ(fakes::ProcessList().opened, 1);

  StartMonitor();

  EXPECT_EQ(fakes::Thread().started, 1);
  EXPECT_FALSE(stopRequested);
}

TEST_F(MonitorThreadTest, StopEndsTheSleepingThreadAtOnce) {
  StartMonitor();
  ASSERT_TRUE(WaitForSleeps(1));

  RequestMonitorStop();

  EXPECT_TRUE(stopRequested);
  ASSERT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.interrupted == 1; }));
  EXPECT_EQ(fakes::Thread().sleeps, std::vector<long long>{10000});
}

TEST_F(MonitorThreadTest, ContinueAfterPauseStartsANewThreadThatRunsAtOnce) {
  StartMonitor();
  ASSERT_TRUE(WaitForSleeps(1));
  RequestMonitorStop();
  ASSERT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.Ended() == 1; }));

  StartMonitor();

  EXPECT_FALSE(stopRequested);
  ASSERT_TRUE(WaitForSleeps(2));
  EXPECT_EQ(fakes::Thread().started, 2);
  EXPECT_EQ(fakes::ProcessList().opened, 2);
}

// The start's event comes from the first thread, not from the start-up: once,
// and not again from the thread a continue starts.
TEST_F(MonitorThreadTest, OnlyTheFirstThreadRecordsTheStart) {
  fakes::Registry()
      .keys[L"SYSTEM\\CurrentControlSet\\Services\\riduvuruz"][L"ImagePath"] =
      L"C:\\Agent\\riduvuruz.exe";
  ::testing::internal::CaptureStdout();
  LoadAgentLocation();
  ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(fakes::EventLog().events.empty());

  StartMonitor();
  ASSERT_TRUE(WaitForSleeps(1));
  RequestMonitorStop();
  ASSERT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.Ended() == 1; }));
  StartMonitor();
  ASSERT_TRUE(WaitForSleeps(2));

  EXPECT_EQ(fakes::Thread().started, 2);
  ASSERT_EQ(fakes::EventLog().Ids(), std::vector<std::uint32_t>{1000});
  EXPECT_EQ(fakes::EventLog().events[0].inserts[0], "C:\\Agent\\riduvuruz.exe");
}

TEST_F(MonitorThreadTest, ContinueWhileThePausedThreadStillRunsACommand) {
  fakes::ProcessList().processes.clear();
  std::promise<void> reached;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<int> calls{0};
  fakes::Command().onRun = [&](const std::string&) {
    if (calls++ != 0) return;
    reached.set_value();
    released.wait();
  };
  StartMonitor();
  reached.get_future().wait();

  RequestMonitorStop();
  StartMonitor();

  EXPECT_FALSE(stopRequested);
  // The new thread's cycle, start command included, runs to its sleep while
  // the old one is held inside its command.
  ASSERT_TRUE(WaitForSleeps(1));
  EXPECT_EQ(fakes::Thread().started, 2);
  EXPECT_EQ(fakes::Command().commands.size(), 2u);
  release.set_value();
  // The old thread finishes its command and ends at its next sleep.
  ASSERT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.interrupted == 1; }));
  EXPECT_EQ(fakes::Thread().Ended(), 1);
}

// The processes to kill stay open while the recovery runs and are closed
// however it ends: a stop while a kill command runs, a pause in one of its
// pauses.
class HeldProcessesTest : public MonitorThreadTest {
 protected:
  void SetUp() override {
    MonitorThreadTest::SetUp();
    fakes::ProcessList().processes = {{L"a.exe", 1200}, {L"b.exe", 344}};
    fakes::Pipe().output =
        "  TCP    0.0.0.0:4033           0.0.0.0:0              LISTENING     "
        "  1200\n  TCP    0.0.0.0:4044           0.0.0.0:0              "
        "LISTENING       344\n";
  }

  void TearDown() override {
    MonitorThreadTest::TearDown();
    EXPECT_EQ(fakes::ProcessHandles().OpenNow(), 0);
  }
};

TEST_F(HeldProcessesTest, StopWhileAKillCommandRunsClosesThem) {
  std::promise<int> reached;  // the handles open inside the first kill
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  fakes::Command().onRun = [&](const std::string& command) {
    if (command != "taskkill /F /pid 1200") return;
    reached.set_value(fakes::ProcessHandles().OpenNow());
    released.wait();
  };
  StartMonitor();
  EXPECT_EQ(reached.get_future().get(), 2);

  RequestMonitorStop();
  release.set_value();

  ASSERT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.interrupted == 1; }));
  EXPECT_EQ(fakes::ProcessHandles().OpenNow(), 0);
  EXPECT_EQ(fakes::Command().commands,
            (std::vector<std::string>{"taskkill /F /pid 1200",
                                      "taskkill /F /pid 344"}));
}

TEST_F(HeldProcessesTest, PauseDuringTheWaitForASurvivorClosesThem) {
  StartMonitor();
  // The one-second pause, then the wait for the first survivor.
  ASSERT_TRUE(WaitForSleeps(2));
  EXPECT_EQ(fakes::ProcessHandles().OpenNow(), 2);

  RequestMonitorStop();
  ASSERT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.interrupted == 1; }));
  EXPECT_EQ(fakes::ProcessHandles().OpenNow(), 0);

  // The continue's thread holds its own, and only those.
  StartMonitor();
  ASSERT_TRUE(WaitForSleeps(4));
  EXPECT_EQ(fakes::ProcessHandles().OpenNow(), 2);
  EXPECT_EQ(fakes::ProcessHandles().opened, 4);
}

// After a stop, the process waits for the thread inside a kill command: the
// command returns, the thread writes its recovery's record and ends, and the
// wait ends with it.
TEST_F(HeldProcessesTest, TheProcessEndWaitsForTheRecordOfARunningKill) {
  std::promise<void> reached;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  fakes::Command().onRun = [&](const std::string& command) {
    if (command != "taskkill /F /pid 1200") return;
    reached.set_value();
    released.wait();
  };
  StartMonitor();
  reached.get_future().wait();
  RequestMonitorStop();

  auto end =
      std::async(std::launch::async, [] { return AwaitMonitorEnd(60000); });
  EXPECT_EQ(end.wait_for(std::chrono::milliseconds(50)),
            std::future_status::timeout);
  EXPECT_TRUE(fakes::EventLog().events.empty());
  release.set_value();

  EXPECT_TRUE(end.get());
  ASSERT_EQ(fakes::EventLog().Ids(), std::vector<std::uint32_t>{2000});
  const std::vector<std::string>& record = fakes::EventLog().events[0].inserts;
  EXPECT_EQ(record[0],
            "PID 1200 (a.exe, port 4033); PID 344 (b.exe, port 4044)");
  EXPECT_EQ(record[4], "not run");
}

// When the bound runs out with a command still running, the waiting thread
// writes the recovery's record itself, naming that command, and the thread
// that finishes later writes none. (In the service the process ends then;
// here the thread goes on to its next step.)
struct StrandedCase {
  const char* what;
  std::string listing;
  std::string heldCommand;
  std::string killed;         // %1
  std::string startExitCode;  // %5
  std::string outcome;        // %6
};

class StrandedRecordTest : public HeldProcessesTest,
                           public ::testing::WithParamInterface<StrandedCase> {
};

TEST_P(StrandedRecordTest, IsWrittenAtTheBoundNamingTheRunningCommand) {
  const StrandedCase& c = GetParam();
  fakes::Pipe().output = c.listing;
  std::promise<void> reached;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  fakes::Command().onRun = [&](const std::string& command) {
    if (command != c.heldCommand) return;
    reached.set_value();
    released.wait();
  };
  StartMonitor();
  reached.get_future().wait();
  RequestMonitorStop();

  EXPECT_FALSE(AwaitMonitorEnd(20)) << c.what;
  ASSERT_EQ(fakes::EventLog().Ids(), std::vector<std::uint32_t>{2000});
  const std::vector<std::string> record = fakes::EventLog().events[0].inserts;
  EXPECT_EQ(record[0], c.killed) << c.what;
  EXPECT_EQ(record[4], c.startExitCode) << c.what;
  EXPECT_EQ(record[5], c.outcome) << c.what;

  release.set_value();
  ASSERT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.Ended() == fake.started; }));
  EXPECT_EQ(fakes::EventLog().Ids(), std::vector<std::uint32_t>{2000})
      << c.what << ": written once";
}

INSTANTIATE_TEST_SUITE_P(
    Commands, StrandedRecordTest,
    ::testing::Values(
        StrandedCase{"a kill command",
                     "  TCP    0.0.0.0:4033           0.0.0.0:0              "
                     "LISTENING       1200\n  TCP    0.0.0.0:4044           "
                     "0.0.0.0:0              LISTENING       344\n",
                     "taskkill /F /pid 1200", "PID 1200 (a.exe, port 4033)",
                     "not run",
                     "The recovery was cut short: the service stopped while "
                     "the command \"taskkill /F /pid 1200\" was still running, "
                     "so the agent was not started. Not run: the start "
                     "command, the check whether 1 killed process ended, 1 "
                     "kill command."},
        StrandedCase{"the start command", "", "C:\\Agent\\riduvuruz.exe -start",
                     "none", "not known",
                     "The service stopped while the agent's start command was "
                     "still running: whether the agent started is not "
                     "known."}));

TEST_F(MonitorThreadTest, FailedThreadStartLeavesNoThreadBehind) {
  StartMonitor();
  ASSERT_TRUE(WaitForSleeps(1));
  RequestMonitorStop();
  fakes::WaitUntil([](const ThreadFake& fake) { return fake.Ended() == 1; });
  fakes::Thread().failStart = true;

  EXPECT_THROW(StartMonitor(), boost::thread_resource_error);

  EXPECT_FALSE(monitorThread.joinable());
  EXPECT_FALSE(stopRequested);
  fakes::Thread().failStart = false;
  StartMonitor();
  EXPECT_EQ(fakes::Thread().started, 2);
}

TEST_F(MonitorThreadTest, StopWithoutThreadChangesNothing) {
  ASSERT_FALSE(monitorThread.joinable());

  RequestMonitorStop();

  EXPECT_FALSE(stopRequested);
}

// Continues racing stops: every thread started is told to stop in the end,
// none is lost.
TEST_F(MonitorThreadTest, RacingStartsAndStopsLoseNoThread) {
  auto churn = [] {
    for (int i = 0; i < 100; ++i) {
      StartMonitor();
      RequestMonitorStop();
    }
  };
  std::thread continues(churn);
  churn();
  continues.join();
  StartMonitor();
  RequestMonitorStop();

  EXPECT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.Ended() == fake.started; }));
  EXPECT_GE(fakes::Thread().started, 100);
}

}  // namespace

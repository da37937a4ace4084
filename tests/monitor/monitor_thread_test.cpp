// The monitor thread for real, with emulated processes and commands; its
// sleeps really wait until interrupted.
#include <gtest/gtest.h>

#include <atomic>
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

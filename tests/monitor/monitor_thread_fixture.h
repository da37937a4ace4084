// The monitor thread for real, with emulated processes and commands; its
// sleeps really wait until interrupted, so a thread that was not told to stop
// would still be sleeping at the end.
#ifndef DIDUROZIR_TESTS_MONITOR_MONITOR_THREAD_FIXTURE_H_
#define DIDUROZIR_TESTS_MONITOR_MONITOR_THREAD_FIXTURE_H_

#include <gtest/gtest.h>

#include <cstddef>

#include "events/events.h"
#include "fakes/fakes.h"
#include "monitor/monitor.h"

class MonitorThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::ResetAll();
    events::ResetRecord();
    fakes::Thread().realSleeps = true;
    fakes::ProcessList().processes = {{L"riduvuruz.exe", 500}};
    AgentLocation.imagePath = "C:\\Agent\\riduvuruz.exe";
    AgentLocation.configDirectory.clear();
    stopRequested = false;
  }

  // Every thread started here ends before the next test touches the fakes.
  void TearDown() override {
    RequestMonitorStop();
    EXPECT_TRUE(fakes::WaitUntil([](const fakes::ThreadFake& fake) {
      return fake.Ended() == fake.started;
    }));
    if (monitorThread.joinable()) monitorThread.join();
    stopRequested = false;
    EXPECT_EQ(fakes::Thread().failed, 0);
    EXPECT_EQ(fakes::ProcessList().opened, fakes::ProcessList().closed);
  }

  static bool WaitForSleeps(std::size_t count) {
    return fakes::WaitUntil([count](const fakes::ThreadFake& fake) {
      return fake.sleeps.size() >= count;
    });
  }
};

#endif  // DIDUROZIR_TESTS_MONITOR_MONITOR_THREAD_FIXTURE_H_

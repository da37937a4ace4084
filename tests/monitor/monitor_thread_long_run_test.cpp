// Storms of the monitor's thread controls from two threads at once, as the
// service main thread and the dispatcher's control handler can send them:
// start (also continue), and stop (also pause). Meant for ThreadSanitizer;
// natively it checks that no thread is lost or left running twice.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fakes.h"
#include "monitor/monitor.h"
#include "monitor/monitor_thread_fixture.h"

// Boost.Thread's own library is not instrumented: TSan does not see the
// reference count, dropped inside it by the ending thread and by detach(),
// that orders everything a thread wrote to its record before the record's
// destruction (~thread_data, ~thread_data_base). Nothing else is suppressed.
extern "C" const char* __tsan_default_suppressions() {
  return "race:~thread_data\n";
}

namespace {

using fakes::ThreadFake;

constexpr int kRounds = 1000;

// The agent runs throughout: a thread that took a stop for a missing agent
// must not go on to a recovery.
class MonitorThreadStormTest : public MonitorThreadTest {
 protected:
  void TearDown() override {
    MonitorThreadTest::TearDown();
    EXPECT_EQ(fakes::Command().commands, std::vector<std::string>{});
  }
};

// Each control as the service's controls reach the monitor.
enum class Control { kStart, kStop, kPause, kContinue };

void Send(Control control) {
  switch (control) {
    case Control::kStart:
    case Control::kContinue:
      StartMonitor();
      break;
    case Control::kStop:
    case Control::kPause:
      RequestMonitorStop();
      break;
  }
}

void Storm(std::uint32_t seed) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pick(0, 3);
  for (int round = 0; round < kRounds; ++round) {
    Send(static_cast<Control>(pick(random)));
  }
}

TEST_F(MonitorThreadStormTest, TwoThreadsOfControlsLeaveOneMonitorAtMost) {
  std::thread handler(Storm, 1u);
  Storm(2u);
  handler.join();

  // Whatever came last, one start leaves exactly one thread running: every
  // other one was told to stop and ends at its sleep.
  StartMonitor();
  ASSERT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.Ended() == fake.started - 1; }));
  EXPECT_FALSE(stopRequested);
  EXPECT_TRUE(monitorThread.joinable());
  EXPECT_GE(fakes::Thread().started, 1);
}

TEST_F(MonitorThreadStormTest, AlternatingPairsFromTwoThreadsLoseNoThread) {
  auto pairs = [] {
    for (int round = 0; round < kRounds; ++round) {
      Send(round % 2 == 0 ? Control::kPause : Control::kContinue);
      Send(round % 3 == 0 ? Control::kStop : Control::kStart);
    }
  };
  std::thread handler(pairs);
  pairs();
  handler.join();

  RequestMonitorStop();
  ASSERT_TRUE(fakes::WaitUntil(
      [](const ThreadFake& fake) { return fake.Ended() == fake.started; }));
  EXPECT_EQ(fakes::Thread().interrupted + fakes::Thread().returned,
            fakes::Thread().started);
}

}  // namespace

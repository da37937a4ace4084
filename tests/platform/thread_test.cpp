// The real interruptible sleep and thread start.
#include "platform/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

enum Outcome { kNotDone, kSlept, kInterrupted };

std::atomic<bool> entered{false};
std::atomic<bool> mayFallAsleep{true};
std::atomic<int> outcome{kNotDone};

void SleepTenSeconds() {
  entered = true;
  while (!mayFallAsleep) std::this_thread::yield();
  try {
    platform::InterruptibleSleep(std::chrono::seconds(10));
    outcome = kSlept;
  } catch (const boost::thread_interrupted&) {
    outcome = kInterrupted;
    throw;
  }
}

// An interruption requested while the thread sleeps, or before it falls
// asleep, ends the sleep at once.
TEST(InterruptibleSleep, InterruptionEndsTenSecondSleep) {
  for (const bool beforeTheSleep : {false, true}) {
    SCOPED_TRACE(beforeTheSleep ? "before the sleep" : "during the sleep");
    entered = false;
    mayFallAsleep = !beforeTheSleep;
    outcome = kNotDone;
    const auto begin = std::chrono::steady_clock::now();
    boost::thread thread = platform::StartThread(&SleepTenSeconds);
    while (!entered) std::this_thread::yield();
    if (!beforeTheSleep) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }

    thread.interrupt();
    mayFallAsleep = true;
    thread.join();

    EXPECT_EQ(outcome, kInterrupted);
    // Only a sanity bound: the sleep must not have run its course.
    EXPECT_LT(std::chrono::steady_clock::now() - begin,
              std::chrono::seconds(9));
  }
}

TEST(InterruptibleSleep, UninterruptedSleepReturns) {
  EXPECT_NO_THROW(platform::InterruptibleSleep(std::chrono::milliseconds(1)));
}

}  // namespace

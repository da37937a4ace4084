#include <chrono>
#include <condition_variable>
#include <mutex>

#include "events/events.h"
#include "monitor/monitor.h"
#include "monitor/recovery_progress.h"
#include "platform/thread.h"

std::atomic<bool> stopRequested{false};
boost::thread monitorThread;

namespace {

// StartMonitor runs on the service main thread or, for a continue, on the
// dispatcher's thread, where stop and pause run too: without this lock a
// continue racing a stop could lose a thread or start two.
std::mutex& MonitorThreadLock() {
  static std::mutex mutex;
  return mutex;
}

// Monitor threads whose body has not ended, detached ones included, for
// AwaitMonitorEnd. Never freed: a detached thread may outlive main.
struct RunningThreads {
  std::mutex mutex;
  std::condition_variable ended;
  int count = 0;
};
RunningThreads& Running() {
  static auto* running = new RunningThreads;
  return *running;
}

void CountThreadEnded() {
  std::lock_guard<std::mutex> lock(Running().mutex);
  --Running().count;
  Running().ended.notify_all();
}

// Ends the count of the thread whose body holds it, however the body ends.
struct ThreadEndCounter {
  ThreadEndCounter() = default;
  ThreadEndCounter(const ThreadEndCounter&) = delete;
  ThreadEndCounter& operator=(const ThreadEndCounter&) = delete;
  ~ThreadEndCounter() { CountThreadEnded(); }
};

// The start's event comes from the first thread, not from the service's
// start-up: its server.conf read must not delay the report that the service
// runs. A thread told to stop before it began leaves it to the next one.
void MonitorThreadBody() {
  const ThreadEndCounter counter;
  if (!stopRequested && !boost::this_thread::interruption_requested()) {
    ReportStartOnce();
  }
  RunMonitor();
}

}  // namespace

void StartMonitor() {
  std::lock_guard<std::mutex> lock(MonitorThreadLock());
  // A thread that was told to stop no longer counts, even while it finishes
  // its current step.
  if (monitorThread.joinable() && !stopRequested) return;
  if (monitorThread.joinable()) monitorThread.detach();
  stopRequested = false;
  {
    // Counted before it starts, so that a wait right after sees it.
    std::lock_guard<std::mutex> running(Running().mutex);
    ++Running().count;
  }
  try {
    monitorThread = platform::StartThread(&MonitorThreadBody);
  } catch (...) {
    CountThreadEnded();
    throw;
  }
}

void RequestMonitorStop() {
  std::lock_guard<std::mutex> lock(MonitorThreadLock());
  if (!monitorThread.joinable()) return;
  stopRequested = true;
  monitorThread.interrupt();
}

bool AwaitMonitorEnd(std::uint32_t timeoutMs) {
  bool ended = false;
  {
    std::unique_lock<std::mutex> lock(Running().mutex);
    ended = Running().ended.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                     [] { return Running().count == 0; });
  }
  if (ended) return true;
  // The process ends with the threads still inside their commands: their
  // records, and the sum held back for the hour, are written here instead.
  WriteUnfinishedRecoveries();
  events::FlushRecord();
  return false;
}

#include <mutex>

#include "monitor/monitor.h"
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

// The start's event comes from the first thread, not from the service's
// start-up: its server.conf read must not delay the report that the service
// runs. A thread told to stop before it began leaves it to the next one.
void MonitorThreadBody() {
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
  monitorThread = platform::StartThread(&MonitorThreadBody);
}

void RequestMonitorStop() {
  std::lock_guard<std::mutex> lock(MonitorThreadLock());
  if (!monitorThread.joinable()) return;
  stopRequested = true;
  monitorThread.interrupt();
}

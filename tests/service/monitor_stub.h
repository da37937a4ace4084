// Stands in for the monitor library in the service and app tests: records
// what the service code asks of the monitor, and when.
#ifndef DIDUROZIR_TESTS_SERVICE_MONITOR_STUB_H_
#define DIDUROZIR_TESTS_SERVICE_MONITOR_STUB_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace stub {

struct MonitorStub {
  int loads = 0;           // LoadAgentLocation calls
  int starts = 0;          // StartMonitor calls that started a thread
  int stopRequests = 0;    // RequestMonitorStop calls
  bool failStart = false;  // StartMonitor throws thread_resource_error
  // StartMonitor, RequestMonitorStop and LoadAgentLocation throw something
  // that is no std::exception.
  bool startThrowsOther = false;
  bool stopThrows = false;
  // Runs inside every RequestMonitorStop, on the caller's thread: lets a test
  // hold a control handler in the middle of its work.
  std::function<void()> onStopRequest;
  // Status reports already sent when the first StartMonitor came, and
  // handler registrations when LoadAgentLocation came.
  std::size_t reportsBeforeStart = 0;
  int registrationsBeforeLoad = -1;
  // Every AwaitMonitorEnd: its bound, and the status reports sent before it.
  std::vector<std::uint32_t> endWaits;
  std::vector<std::size_t> reportsBeforeEndWait;

  void Reset() { *this = MonitorStub(); }
};

MonitorStub& Monitor();

}  // namespace stub

#endif  // DIDUROZIR_TESTS_SERVICE_MONITOR_STUB_H_

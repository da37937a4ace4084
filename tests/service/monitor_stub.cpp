#include "monitor_stub.h"

#include <boost/thread/exceptions.hpp>

#include "fakes/fake_service_runtime.h"
#include "monitor/monitor.h"

AgentLocationRecord AgentLocation;
std::atomic<bool> stopRequested{false};
boost::thread monitorThread;

namespace stub {

MonitorStub& Monitor() {
  static MonitorStub monitor;
  return monitor;
}

}  // namespace stub

void LoadAgentLocation() {
  stub::MonitorStub& monitor = stub::Monitor();
  if (monitor.loads++ == 0) {
    monitor.registrationsBeforeLoad = fakes::ServiceRuntime().registrations;
  }
}

void StartMonitor() {
  stub::MonitorStub& monitor = stub::Monitor();
  if (monitor.failStart) throw boost::thread_resource_error();
  if (monitor.startThrowsOther) throw 1;
  if (monitor.starts++ == 0) {
    monitor.reportsBeforeStart = fakes::ServiceRuntime().reports.size();
  }
}

void RequestMonitorStop() {
  ++stub::Monitor().stopRequests;
  if (stub::Monitor().onStopRequest) stub::Monitor().onStopRequest();
  if (stub::Monitor().stopThrows) throw 1;
}

bool AwaitMonitorEnd(std::uint32_t timeoutMs) {
  stub::Monitor().endWaits.push_back(timeoutMs);
  stub::Monitor().reportsBeforeEndWait.push_back(
      fakes::ServiceRuntime().reports.size());
  return true;
}

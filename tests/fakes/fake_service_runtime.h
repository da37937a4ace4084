// The service's side of the emulated Service Control Manager, behind
// platform/service_runtime.h: dispatcher, handler registration and status
// reports.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_SERVICE_RUNTIME_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_SERVICE_RUNTIME_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/service_runtime.h"

namespace fakes {

struct ServiceRuntimeFake {
  // Dispatcher.
  bool failDispatcher = false;  // as when not started by the manager
  int dispatcherCalls = 0;
  std::wstring dispatchedName;
  platform::ServiceMainFunction dispatchedMain = nullptr;
  // Run inside a successful StartServiceDispatcher, standing for the service's
  // life; by default the dispatcher returns at once.
  std::function<void()> duringDispatch;

  // Handler registration.
  bool failRegistration = false;
  int registrations = 0;
  std::wstring registeredName;
  platform::ServiceControlHandler handler = nullptr;
  void* handlerContext = nullptr;

  // Status reports, accepted and refused, in order. A report is refused with
  // a handle other than the registered one (null included) or with a state
  // outside 1 to 7, as the platform refuses them. An accepted report also
  // sets the state of the service of that name in fakes::ServiceControl(),
  // when there is one.
  struct Report {
    platform::ServiceStatus status;
    bool accepted;
  };
  std::vector<Report> reports;
  // The report with this number (counted from 1) is refused as well, as a
  // manager that fails the call; 0 for none.
  std::size_t refuseReport = 0;
  // Runs at every report, accepted or not, before it is recorded: lets a test
  // see what the code under test had done by then.
  std::function<void(const platform::ServiceStatus&)> onReport;

  // Sends `control` to the registered handler as the dispatcher would.
  std::uint32_t SendControl(std::uint32_t control) const;
  // The states of the accepted reports, in order.
  std::vector<std::uint32_t> AcceptedStates() const;

  void Reset() { *this = ServiceRuntimeFake(); }
};

ServiceRuntimeFake& ServiceRuntime();

// The status handle the fake hands out.
platform::ServiceStatusHandle FakeStatusHandle();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_SERVICE_RUNTIME_H_

#include "fakes/fake_service_runtime.h"

#include "fakes/fake_service_control.h"

namespace fakes {

ServiceRuntimeFake& ServiceRuntime() {
  static ServiceRuntimeFake fake;
  return fake;
}

platform::ServiceStatusHandle FakeStatusHandle() {
  static char token;
  return reinterpret_cast<platform::ServiceStatusHandle>(&token);
}

std::uint32_t ServiceRuntimeFake::SendControl(std::uint32_t control) const {
  return handler(control, 0, nullptr, handlerContext);
}

std::vector<std::uint32_t> ServiceRuntimeFake::AcceptedStates() const {
  std::vector<std::uint32_t> states;
  for (const Report& report : reports) {
    if (report.accepted) states.push_back(report.status.currentState);
  }
  return states;
}

}  // namespace fakes

namespace platform {

bool StartServiceDispatcher(const wchar_t* serviceName,
                            ServiceMainFunction serviceMain) {
  fakes::ServiceRuntimeFake& fake = fakes::ServiceRuntime();
  ++fake.dispatcherCalls;
  fake.dispatchedName = serviceName;
  fake.dispatchedMain = serviceMain;
  if (fake.failDispatcher) return false;
  if (fake.duringDispatch) fake.duringDispatch();
  return true;
}

ServiceStatusHandle RegisterServiceControlHandler(const wchar_t* serviceName,
                                                  ServiceControlHandler handler,
                                                  void* context) {
  fakes::ServiceRuntimeFake& fake = fakes::ServiceRuntime();
  ++fake.registrations;
  if (fake.failRegistration) return nullptr;
  fake.registeredName = serviceName;
  fake.handler = handler;
  fake.handlerContext = context;
  return fakes::FakeStatusHandle();
}

bool ReportServiceStatus(ServiceStatusHandle handle,
                         const ServiceStatus& status) {
  fakes::ServiceRuntimeFake& fake = fakes::ServiceRuntime();
  if (fake.onReport) fake.onReport(status);
  const bool accepted = handle == fakes::FakeStatusHandle() &&
                        !fake.registeredName.empty() &&
                        status.currentState >= 1 && status.currentState <= 7 &&
                        fake.reports.size() + 1 != fake.refuseReport;
  fake.reports.push_back({status, accepted});
  if (!accepted) return false;
  auto service = fakes::ServiceControl().services.find(fake.registeredName);
  if (service != fakes::ServiceControl().services.end()) {
    service->second.state = status.currentState;
  }
  return true;
}

}  // namespace platform

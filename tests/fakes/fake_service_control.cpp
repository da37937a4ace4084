#include "fakes/fake_service_control.h"

#include <cstdint>

#include "fakes/fake_process_handle.h"

namespace fakes {

namespace {

constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorInvalidHandle = 6;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInvalidName = 123;
constexpr std::uint32_t kErrorServiceAlreadyRunning = 1056;
constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
constexpr std::uint32_t kErrorServiceCannotAcceptControl = 1061;
constexpr std::uint32_t kErrorServiceNotActive = 1062;
constexpr std::uint32_t kErrorServiceExists = 1073;
constexpr std::uint32_t kErrorServiceMarkedForDelete = 1072;

constexpr std::uint32_t kManagerCreateService = 2;
constexpr std::uint32_t kControlStop = 1;
constexpr std::uint32_t kControlPause = 2;
constexpr std::uint32_t kControlContinue = 3;
constexpr std::uint32_t kControlInterrogate = 4;

constexpr std::uint32_t kStopped = 1;
constexpr std::uint32_t kStartPending = 2;
constexpr std::uint32_t kStopPending = 3;
constexpr std::uint32_t kRunning = 4;
constexpr std::uint32_t kPaused = 7;

// Counts the call and tells whether an injected failure hits it; sets the
// last error when one does.
bool InjectedFailure(ScCall call) {
  ServiceControlFake& fake = ServiceControl();
  const int number = ++fake.calls[call];
  for (const ServiceControlFake::Failure& failure : fake.failures) {
    if (failure.call == call &&
        (failure.occurrence == 0 || failure.occurrence == number)) {
      fake.lastError = failure.error;
      return true;
    }
  }
  return false;
}

bool Refuse(std::uint32_t error) {
  ServiceControl().lastError = error;
  return false;
}

platform::ScHandle HandOut(FakeScHandle handle) {
  ServiceControlFake& fake = ServiceControl();
  fake.handles.push_back(handle);
  return reinterpret_cast<platform::ScHandle>(
      static_cast<std::uintptr_t>(fake.handles.size()));
}

// The open handle behind `handle`, or null.
FakeScHandle* Find(platform::ScHandle handle) {
  ServiceControlFake& fake = ServiceControl();
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value == 0 || value > fake.handles.size()) return nullptr;
  FakeScHandle& found = fake.handles[value - 1];
  return found.closes == 0 ? &found : nullptr;
}

// The service an open service handle stands for, or null with the error set.
FakeService* FindService(platform::ScHandle handle) {
  FakeScHandle* found = Find(handle);
  if (found == nullptr || found->isManager) {
    Refuse(kErrorInvalidHandle);
    return nullptr;
  }
  auto service = ServiceControl().services.find(found->serviceName);
  if (service == ServiceControl().services.end()) {
    Refuse(kErrorServiceMarkedForDelete);
    return nullptr;
  }
  return &service->second;
}

void Fill(const FakeService& service, platform::ServiceStatus* status) {
  *status = platform::ServiceStatus{};
  status->serviceType = service.serviceType;
  status->currentState = service.state;
}

std::wstring DependencyList(const wchar_t* list) {
  std::wstring text;
  while (*list != L'\0') {
    const std::wstring name(list);
    text += name;
    text += L'\0';
    list += name.size() + 1;
  }
  return text;
}

// The settings of CreateServiceW and ChangeServiceConfigW, as the fake keeps
// them.
void Configure(FakeService& service, const platform::ServiceCreation& c) {
  service.displayName = c.displayName != nullptr ? c.displayName : L"";
  service.desiredAccess = c.desiredAccess;
  service.serviceType = c.serviceType;
  service.startType = c.startType;
  service.errorControl = c.errorControl;
  service.binaryPathName = c.binaryPathName;
  service.loadOrderGroupNull = c.loadOrderGroup == nullptr;
  if (c.loadOrderGroup != nullptr) service.loadOrderGroup = c.loadOrderGroup;
  service.dependenciesNull = c.dependencies == nullptr;
  if (c.dependencies != nullptr) {
    service.dependencies = DependencyList(c.dependencies);
  }
  service.serviceStartNameNull = c.serviceStartName == nullptr;
  service.passwordNull = c.password == nullptr;
}

}  // namespace

ServiceControlFake& ServiceControl() {
  static ServiceControlFake fake;
  return fake;
}

FakeService& ServiceControlFake::AddService(const std::wstring& name,
                                            std::uint32_t state) {
  FakeService& service = services[name];
  service.displayName = name;
  service.binaryPathName = L"C:\\" + name + L".exe";
  service.state = state;
  return service;
}

int ServiceControlFake::OpenHandles() const {
  int open = 0;
  for (const FakeScHandle& handle : handles) open += handle.closes == 0;
  return open;
}

std::string ServiceControlFake::HandleProblems() const {
  std::string problems;
  if (unknownCloses != 0) {
    problems += std::to_string(unknownCloses) + " unknown handle(s) closed; ";
  }
  for (std::size_t i = 0; i < handles.size(); ++i) {
    const FakeScHandle& handle = handles[i];
    const std::string name =
        (handle.isManager ? "manager #" : "service #") + std::to_string(i + 1);
    if (handle.closes != 1) {
      problems +=
          name + " closed " + std::to_string(handle.closes) + " time(s); ";
    } else if (!handle.isManager) {
      const FakeScHandle& manager = handles[handle.manager];
      if (manager.closes == 1 && manager.closedAt < handle.closedAt) {
        problems += name + " closed after its manager; ";
      }
    }
  }
  return problems;
}

}  // namespace fakes

namespace platform {

using namespace fakes;

ScHandle OpenServiceManager(std::uint32_t access) {
  if (InjectedFailure(ScCall::kOpenManager)) return nullptr;
  FakeScHandle handle;
  handle.isManager = true;
  handle.access = access;
  return HandOut(handle);
}

ScHandle OpenNamedService(ScHandle manager, const wchar_t* serviceName,
                          std::uint32_t access) {
  if (InjectedFailure(ScCall::kOpenService)) return nullptr;
  FakeScHandle* parent = Find(manager);
  if (parent == nullptr || !parent->isManager) {
    Refuse(kErrorInvalidHandle);
    return nullptr;
  }
  if (!ServiceControl().Has(serviceName)) {
    Refuse(kErrorServiceDoesNotExist);
    return nullptr;
  }
  FakeScHandle handle;
  handle.manager =
      static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(manager) - 1);
  handle.serviceName = serviceName;
  handle.access = access;
  return HandOut(handle);
}

ScHandle CreateNamedService(ScHandle manager, const ServiceCreation& c) {
  if (InjectedFailure(ScCall::kCreate)) return nullptr;
  FakeScHandle* parent = Find(manager);
  if (parent == nullptr || !parent->isManager) {
    Refuse(kErrorInvalidHandle);
    return nullptr;
  }
  if ((parent->access & kManagerCreateService) == 0) {
    Refuse(kErrorAccessDenied);
    return nullptr;
  }
  if (c.serviceName == nullptr || *c.serviceName == L'\0') {
    Refuse(kErrorInvalidName);
    return nullptr;
  }
  if (c.binaryPathName == nullptr || *c.binaryPathName == L'\0') {
    Refuse(kErrorInvalidParameter);
    return nullptr;
  }
  if (ServiceControl().Has(c.serviceName)) {
    Refuse(kErrorServiceExists);
    return nullptr;
  }
  FakeService service;
  Configure(service, c);
  ServiceControl().services[c.serviceName] = service;

  FakeScHandle handle;
  handle.manager =
      static_cast<std::size_t>(reinterpret_cast<std::uintptr_t>(manager) - 1);
  handle.serviceName = c.serviceName;
  handle.access = c.desiredAccess;
  return HandOut(handle);
}

bool QueryServiceBinaryPath(ScHandle service, std::wstring& path) {
  if (InjectedFailure(ScCall::kQueryConfig)) return false;
  const FakeService* found = FindService(service);
  if (found == nullptr) return false;
  path = found->binaryPathName;
  return true;
}

bool ChangeServiceSettings(ScHandle service, const ServiceCreation& c) {
  if (InjectedFailure(ScCall::kChangeConfig)) return false;
  FakeService* found = FindService(service);
  if (found == nullptr) return false;
  const std::uint32_t access = found->desiredAccess;
  Configure(*found, c);
  found->desiredAccess = access;
  ++found->reconfigurations;
  return true;
}

bool SetServiceDescription(ScHandle service, const wchar_t* description) {
  if (InjectedFailure(ScCall::kSetDescription)) return false;
  FakeService* found = FindService(service);
  if (found == nullptr) return false;
  found->descriptionSet = true;
  found->description = description != nullptr ? description : L"";
  return true;
}

bool SetServiceFailureActions(ScHandle service,
                              const ServiceFailureActions& actions) {
  if (InjectedFailure(ScCall::kSetFailureActions)) return false;
  FakeService* found = FindService(service);
  if (found == nullptr) return false;
  // As the platform does: without an action array nothing changes.
  if (actions.actions == nullptr) return true;
  found->failureActionsSet = true;
  found->resetPeriod = actions.resetPeriod;
  found->failureActions.assign(actions.actions,
                               actions.actions + actions.actionCount);
  return true;
}

bool DeleteNamedService(ScHandle service) {
  if (InjectedFailure(ScCall::kDelete)) return false;
  FakeScHandle* handle = Find(service);
  if (FindService(service) == nullptr) return false;
  ServiceControl().services.erase(handle->serviceName);
  return true;
}

// Like the manager's status record: a stopped service runs in no process,
// although the process may still be ending.
std::uint32_t ServiceProcessId(ScHandle service) {
  const FakeService* found = FindService(service);
  if (found == nullptr || found->state == kStopped) return 0;
  return found->processId;
}

ProcessHandle* OpenServiceProcess(ScHandle service, OpenFailure* failure) {
  const std::uint32_t pid = ServiceProcessId(service);
  if (pid == 0) {
    *failure = OpenFailure::kNoSuchProcess;
    return nullptr;
  }
  if (ServiceControl().refuseProcessOpen) {
    *failure = OpenFailure::kRefused;
    return nullptr;
  }
  *failure = OpenFailure::kNone;
  ServiceControl().processOpens.emplace_back(pid, FindService(service)->state);
  return fakes::OpenFakeProcess(pid);
}

bool WaitForProcessEnd(ProcessHandle* process, std::uint32_t) {
  const std::uint32_t pid = fakes::FakeProcessPid(process);
  bool stopped = true;
  for (const auto& [name, service] : ServiceControl().services) {
    if (service.processId == pid && service.state != kStopped) stopped = false;
  }
  ServiceControl().processWaits.emplace_back(pid, stopped);
  return ServiceControl().processesEnd;
}

bool StartNamedService(ScHandle service) {
  if (InjectedFailure(ScCall::kStart)) return false;
  FakeService* found = FindService(service);
  if (found == nullptr) return false;
  if (found->state != kStopped) return Refuse(kErrorServiceAlreadyRunning);
  ++found->startRequests;
  found->state = found->stateAfterStart;
  return true;
}

// Like the real manager: a stopped service is not active, and one that is
// starting or stopping can't take a control; both refusals still report the
// status.
bool ControlNamedService(ScHandle service, std::uint32_t control,
                         ServiceStatus* status) {
  if (InjectedFailure(control == kControlInterrogate ? ScCall::kInterrogate
                                                     : ScCall::kControl)) {
    return false;
  }
  FakeService* found = FindService(service);
  if (found == nullptr) return false;
  found->controls.push_back(control);
  if (control == kControlInterrogate && !found->upcomingStates.empty()) {
    found->state = found->upcomingStates.front();
    found->upcomingStates.pop_front();
  }
  Fill(*found, status);
  if (found->state == kStopped) return Refuse(kErrorServiceNotActive);
  if (found->state == kStartPending || found->state == kStopPending) {
    return Refuse(kErrorServiceCannotAcceptControl);
  }
  switch (control) {
    case kControlStop:
      found->state = found->stateAfterStop;
      break;
    case kControlPause:
      found->state = kPaused;
      break;
    case kControlContinue:
      found->state = kRunning;
      break;
    default:
      break;
  }
  Fill(*found, status);
  return true;
}

void CloseServiceManagerHandle(ScHandle handle) {
  ServiceControlFake& fake = ServiceControl();
  const auto value = reinterpret_cast<std::uintptr_t>(handle);
  if (value == 0 || value > fake.handles.size()) {
    ++fake.unknownCloses;
    return;
  }
  FakeScHandle& closed = fake.handles[value - 1];
  ++closed.closes;
  closed.closedAt = ++fake.closesSoFar;
}

std::uint32_t LastServiceError() { return ServiceControl().lastError; }

}  // namespace platform

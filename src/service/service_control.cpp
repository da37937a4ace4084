#include "platform/service_control.h"

#include "events/events.h"
#include "platform/event_log.h"
#include "platform/system.h"
#include "service/service.h"

namespace {

using platform::ScopedScHandle;
using platform::ServiceStatus;

constexpr std::uint32_t kManagerCreateService = 2;
constexpr std::uint32_t kManagerAllAccess = 0xF003F;
constexpr std::uint32_t kServiceAllAccess = 0xF01FF;

constexpr int kStatePolls = 29;
constexpr std::uint32_t kProcessEndWaitMs = 10000;
constexpr std::uint32_t kPollIntervalMs = 1000;

// After a crash of its process the service comes back by itself: restarted
// after 5 s, 30 s and then 60 s, the count starting over after a day without
// failure.
constexpr std::uint32_t kActionRestart = 1;
constexpr std::uint32_t kFailureResetSeconds = 86400;
platform::ServiceAction restartActions[] = {
    {kActionRestart, 5000},
    {kActionRestart, 30000},
    {kActionRestart, 60000},
};

// A manager and one service opened from it. Declared in this order, the
// service handle is closed before the manager.
struct OpenedService {
  ScopedScHandle manager;
  ScopedScHandle service;
};

// Opens the manager and the service; 0, or the code for the failure with
// nothing left open.
std::uint32_t OpenOwnService(OpenedService& opened) {
  opened.manager =
      ScopedScHandle(platform::OpenServiceManager(kManagerAllAccess));
  if (!opened.manager.IsValid()) return kErrorInvalidHandle;
  opened.service = ScopedScHandle(platform::OpenNamedService(
      opened.manager.Get(), ServiceSettings.serviceName, kServiceAllAccess));
  if (!opened.service.IsValid()) {
    const std::uint32_t error = platform::LastServiceError();
    opened.manager.Reset();
    return error;
  }
  return 0;
}

// Asks the service for its status into `status`. A service that is not
// active counts as stopped. Returns 0 or the code of any other refusal, which
// leaves in `status` whatever the platform left there.
std::uint32_t Interrogate(platform::ScHandle service, ServiceStatus& status) {
  if (platform::ControlNamedService(service, kControlInterrogate, &status)) {
    return 0;
  }
  const std::uint32_t error = platform::LastServiceError();
  if (error == kErrorServiceNotActive) {
    status.currentState = kServiceStopped;
    return 0;
  }
  return error;
}

// Asks once more with a fresh pair of handles; a failure leaves `status` as
// it was, so the wait goes on.
void Poll(ServiceStatus& status) {
  OpenedService opened;
  if (OpenOwnService(opened) != 0) return;
  Interrogate(opened.service.Get(), status);
}

// Start and stop: a check, a request unless the service is there already,
// then up to 29 polls a second apart.
std::uint32_t RequestAndWait(std::uint32_t targetState, bool stop) {
  ServiceStatus status{};
  {
    OpenedService opened;
    const std::uint32_t error = OpenOwnService(opened);
    if (error != 0) return error;
    const std::uint32_t refusal = Interrogate(opened.service.Get(), status);
    if (refusal != 0) return refusal;
  }
  if (status.currentState == targetState) return 0;

  OpenedService request;
  const std::uint32_t error = OpenOwnService(request);
  if (error != 0) return error;
  const bool sent = stop ? platform::ControlNamedService(request.service.Get(),
                                                         kControlStop, &status)
                         : platform::StartNamedService(request.service.Get());
  if (!sent) return platform::LastServiceError();

  for (int poll = 0; poll < kStatePolls; ++poll) {
    Poll(status);
    if (status.currentState == targetState) return 0;
    platform::SleepMilliseconds(kPollIntervalMs);
  }
  return kWaitTimeout;
}

// The event messages live in a resource-only DLL beside the executable, so
// that an Event Viewer holding them open never keeps the executable itself
// from being replaced.
std::wstring MessageFilePath() {
  std::wstring path = ServiceSettings.moduleDirectory;
  if (!path.empty() && path.back() != L'\\') path += L'\\';
  return path + kMessageFileName;
}

}  // namespace

std::uint32_t QueryServiceState() {
  OpenedService opened;
  if (OpenOwnService(opened) != 0) return 0;
  ServiceStatus status{};
  if (Interrogate(opened.service.Get(), status) != 0) return 0;
  return status.currentState;
}

std::uint32_t StartServiceAndWait() {
  return RequestAndWait(kServiceRunning, /*stop=*/false);
}

std::uint32_t StopServiceAndWait() {
  return RequestAndWait(kServiceStopped, /*stop=*/true);
}

std::uint32_t UninstallService() {
  OpenedService target;
  const std::uint32_t error = OpenOwnService(target);
  if (error != 0) return error;

  ServiceStatus status{};
  {
    // Unlike the first open, a refused manager here is reported with the
    // system's own code for it.
    OpenedService check;
    check.manager =
        ScopedScHandle(platform::OpenServiceManager(kManagerAllAccess));
    if (!check.manager.IsValid()) return platform::LastServiceError();
    check.service = ScopedScHandle(platform::OpenNamedService(
        check.manager.Get(), ServiceSettings.serviceName, kServiceAllAccess));
    if (!check.service.IsValid()) return platform::LastServiceError();
    const std::uint32_t refusal = Interrogate(check.service.Get(), status);
    if (refusal != 0) return refusal;
  }
  // A service that won't stop stays installed rather than be left running
  // marked for deletion.
  if (status.currentState != kServiceStopped) {
    const std::uint32_t process =
        platform::ServiceProcessId(target.service.Get());
    const std::uint32_t stopResult = StopServiceAndWait();
    if (stopResult != 0) return stopResult;
    // A stopped service's process lives on for a moment, holding its
    // executable (which an uninstaller removes next) and the service's
    // entry. Bounded: the deletion follows anyway.
    if (process != 0) platform::WaitForProcessEnd(process, kProcessEndWaitMs);
  }
  if (!platform::DeleteNamedService(target.service.Get())) {
    return platform::LastServiceError();
  }
  // Like the registration, not worth failing the uninstallation for.
  platform::RemoveEventLogSource(events::kSourceName);
  return 0;
}

std::uint32_t InstallService() {
  ScopedScHandle manager(platform::OpenServiceManager(kManagerCreateService));
  if (!manager.IsValid()) return kErrorInvalidHandle;

  ServiceSettingsRecord& s = ServiceSettings;
  platform::ServiceCreation creation{};
  creation.serviceName = s.serviceName;
  creation.displayName = s.displayName;
  creation.desiredAccess = s.desiredAccess;
  creation.serviceType = s.serviceType;
  creation.startType = s.startType;
  creation.errorControl = s.errorControl;
  creation.binaryPathName = s.binaryPathName;
  creation.loadOrderGroup = s.loadOrderGroup;
  creation.dependencies = s.dependencies;  // all NUL: the empty list
  creation.serviceStartName =
      s.serviceStartName[0] != L'\0' ? s.serviceStartName : nullptr;
  creation.password = s.password[0] != L'\0' ? s.password : nullptr;
  ScopedScHandle service(platform::CreateNamedService(manager.Get(), creation));
  if (!service.IsValid()) return platform::LastServiceError();

  // The service exists and runs without these two; a refusal is not worth
  // failing the installation for.
  platform::SetServiceDescription(service.Get(), s.description);
  s.failureActions.resetPeriod = kFailureResetSeconds;
  s.failureActions.actionCount =
      sizeof restartActions / sizeof restartActions[0];
  s.failureActions.actions = restartActions;
  platform::SetServiceFailureActions(service.Get(), s.failureActions);
  platform::RegisterEventLogSource(events::kSourceName, MessageFilePath());
  return 0;
}

#include "platform/service_control.h"

#include <string>
#include <string_view>

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

// The registration that -install writes, from ServiceSettings.
platform::ServiceCreation CreationFromSettings() {
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
  return creation;
}

// The service exists and runs without these; a refusal is not worth failing
// the installation for.
void ApplyExtras(platform::ScHandle service) {
  ServiceSettingsRecord& s = ServiceSettings;
  platform::SetServiceDescription(service, s.description);
  s.failureActions.resetPeriod = kFailureResetSeconds;
  s.failureActions.actionCount =
      sizeof restartActions / sizeof restartActions[0];
  s.failureActions.actions = restartActions;
  platform::SetServiceFailureActions(service, s.failureActions);
  platform::RegisterEventLogSource(events::kSourceName, MessageFilePath());
}

std::wstring_view Unquoted(std::wstring_view path) {
  if (path.size() >= 2 && path.front() == L'"' && path.back() == L'"') {
    return path.substr(1, path.size() - 2);
  }
  return path;
}

wchar_t FoldAscii(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// Paths compare without their quotes and without regard to ASCII case; any
// other difference counts, so that a doubtful match is never taken for ours.
bool SamePath(std::wstring_view a, std::wstring_view b) {
  a = Unquoted(a);
  b = Unquoted(b);
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

// Whether the opened service is registered to run this executable; 0, or the
// code of the refused query.
std::uint32_t RunsThisExecutable(platform::ScHandle service, bool& ours) {
  std::wstring registered;
  if (!platform::QueryServiceBinaryPath(service, registered)) {
    return platform::LastServiceError();
  }
  ours = SamePath(registered, ServiceSettings.binaryPathName);
  return 0;
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
    platform::OpenFailure failure;
    const platform::ScopedProcessHandle process(
        platform::OpenServiceProcess(target.service.Get(), &failure));
    const std::uint32_t stopResult = StopServiceAndWait();
    if (stopResult != 0) return stopResult;
    // A stopped service's process lives on for a moment, holding its
    // executable (which an uninstaller removes next) and the service's
    // entry. Bounded: the deletion follows anyway.
    if (process.IsValid()) {
      platform::WaitForProcessEnd(process.Get(), kProcessEndWaitMs);
    }
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

  ScopedScHandle service(
      platform::CreateNamedService(manager.Get(), CreationFromSettings()));
  if (!service.IsValid()) return platform::LastServiceError();
  ApplyExtras(service.Get());
  return 0;
}

std::uint32_t PackageInstallService() {
  const std::uint32_t created = InstallService();
  if (created != kErrorServiceExists) return created;

  OpenedService opened;
  const std::uint32_t error = OpenOwnService(opened);
  if (error != 0) return error;
  bool ours = false;
  const std::uint32_t refusal = RunsThisExecutable(opened.service.Get(), ours);
  if (refusal != 0) return refusal;
  // Another folder's executable: taking it over would leave that folder's
  // administrator with a service that no longer runs what they installed.
  if (!ours) return kErrorServiceExists;
  if (!platform::ChangeServiceSettings(opened.service.Get(),
                                       CreationFromSettings())) {
    return platform::LastServiceError();
  }
  ApplyExtras(opened.service.Get());
  return 0;
}

std::uint32_t PackageUninstallService() {
  {
    OpenedService opened;
    const std::uint32_t error = OpenOwnService(opened);
    if (error == kErrorServiceDoesNotExist) return 0;
    if (error != 0) return error;
    bool ours = false;
    const std::uint32_t refusal =
        RunsThisExecutable(opened.service.Get(), ours);
    if (refusal != 0) return refusal;
    // Another folder's registration is that folder's to remove: this
    // package never made it (PackageInstallService refuses to take one over).
    if (!ours) return 0;
  }
  const std::uint32_t result = UninstallService();
  return result == kErrorServiceDoesNotExist ? 0 : result;
}

std::uint32_t PackageStopService() {
  platform::ScopedProcessHandle process;
  platform::OpenFailure failure = platform::OpenFailure::kNone;
  {
    OpenedService opened;
    const std::uint32_t error = OpenOwnService(opened);
    if (error == kErrorServiceDoesNotExist) return 0;
    if (error != 0) return error;
    // Opened before the stop: a PID opened after it may already name
    // another process, and the wait would be for a stranger.
    process = platform::ScopedProcessHandle(
        platform::OpenServiceProcess(opened.service.Get(), &failure));
  }
  const std::uint32_t stopped = StopServiceAndWait();
  if (stopped != 0) return stopped;
  // The manager reports the service stopped while its process may still be
  // ending, its executable still mapped: replaced now, it would be replaced
  // only at the next boot. A process that could not be opened can't be
  // waited for.
  if (failure == platform::OpenFailure::kRefused) return kWaitTimeout;
  if (process.IsValid() &&
      !platform::WaitForProcessEnd(process.Get(), kProcessEndWaitMs)) {
    return kWaitTimeout;
  }
  return 0;
}

std::uint32_t PackageUndoInstall() { return PackageUninstallService(); }

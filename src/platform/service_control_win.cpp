#include <windows.h>

#include <vector>

#include "platform/service_control.h"

namespace platform {

namespace {

SC_HANDLE ToNative(ScHandle handle) {
  return reinterpret_cast<SC_HANDLE>(handle);
}
ScHandle FromNative(SC_HANDLE handle) {
  return reinterpret_cast<ScHandle>(handle);
}

void CopyStatus(const SERVICE_STATUS& from, ServiceStatus* to) {
  to->serviceType = from.dwServiceType;
  to->currentState = from.dwCurrentState;
  to->controlsAccepted = from.dwControlsAccepted;
  to->win32ExitCode = from.dwWin32ExitCode;
  to->serviceSpecificExitCode = from.dwServiceSpecificExitCode;
  to->checkPoint = from.dwCheckPoint;
  to->waitHint = from.dwWaitHint;
}

}  // namespace

ScHandle OpenServiceManager(std::uint32_t access) {
  return FromNative(OpenSCManagerW(nullptr, nullptr, access));
}

ScHandle OpenNamedService(ScHandle manager, const wchar_t* serviceName,
                          std::uint32_t access) {
  return FromNative(OpenServiceW(ToNative(manager), serviceName, access));
}

ScHandle CreateNamedService(ScHandle manager, const ServiceCreation& creation) {
  return FromNative(CreateServiceW(
      ToNative(manager), creation.serviceName, creation.displayName,
      creation.desiredAccess, creation.serviceType, creation.startType,
      creation.errorControl, creation.binaryPathName, creation.loadOrderGroup,
      nullptr, creation.dependencies, creation.serviceStartName,
      creation.password));
}

bool SetServiceDescription(ScHandle service, const wchar_t* description) {
  SERVICE_DESCRIPTIONW record{};
  record.lpDescription = const_cast<wchar_t*>(description);
  return ChangeServiceConfig2W(ToNative(service), SERVICE_CONFIG_DESCRIPTION,
                               &record) != FALSE;
}

bool SetServiceFailureActions(ScHandle service,
                              const ServiceFailureActions& actions) {
  SERVICE_FAILURE_ACTIONSW record{};
  record.dwResetPeriod = actions.resetPeriod;
  record.lpRebootMsg = actions.rebootMessage;
  record.lpCommand = actions.command;
  record.cActions = actions.actionCount;
  // Copied rather than cast: SC_ACTION's first member is an enum.
  std::vector<SC_ACTION> native;
  if (actions.actions != nullptr) {
    for (std::uint32_t i = 0; i < actions.actionCount; ++i) {
      native.push_back({static_cast<SC_ACTION_TYPE>(actions.actions[i].type),
                        actions.actions[i].delay});
    }
    record.lpsaActions = native.data();
  }
  return ChangeServiceConfig2W(ToNative(service),
                               SERVICE_CONFIG_FAILURE_ACTIONS,
                               &record) != FALSE;
}

bool QueryServiceBinaryPath(ScHandle service, std::wstring& path) {
  DWORD needed = 0;
  QueryServiceConfigW(ToNative(service), nullptr, 0, &needed);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || needed == 0) return false;
  // QUERY_SERVICE_CONFIGW holds pointers: the buffer must be aligned for them.
  std::vector<std::uint64_t> buffer(needed / sizeof(std::uint64_t) + 1);
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  if (!QueryServiceConfigW(ToNative(service), config,
                           static_cast<DWORD>(buffer.size() * sizeof buffer[0]),
                           &needed)) {
    return false;
  }
  path = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : L"";
  return true;
}

bool ChangeServiceSettings(ScHandle service, const ServiceCreation& creation) {
  return ChangeServiceConfigW(ToNative(service), creation.serviceType,
                              creation.startType, creation.errorControl,
                              creation.binaryPathName, creation.loadOrderGroup,
                              nullptr, creation.dependencies,
                              creation.serviceStartName, creation.password,
                              creation.displayName) != FALSE;
}

bool DeleteNamedService(ScHandle service) {
  return DeleteService(ToNative(service)) != FALSE;
}

std::uint32_t ServiceProcessId(ScHandle service) {
  SERVICE_STATUS_PROCESS status = {};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(ToNative(service), SC_STATUS_PROCESS_INFO,
                            reinterpret_cast<BYTE*>(&status), sizeof status,
                            &needed)) {
    return 0;
  }
  return status.dwProcessId;
}

ProcessHandle* OpenServiceProcess(ScHandle service, OpenFailure* failure) {
  const std::uint32_t pid = ServiceProcessId(service);
  if (pid == 0) {
    *failure = OpenFailure::kNoSuchProcess;
    return nullptr;
  }
  ProcessHandle* process = OpenProcessHandle(pid, failure);
  // The service's process may have ended between the two calls and its PID
  // passed to another: what is held must still be the service's.
  if (process != nullptr && ServiceProcessId(service) != pid) {
    CloseProcessHandle(process);
    *failure = OpenFailure::kNoSuchProcess;
    return nullptr;
  }
  return process;
}

bool StartNamedService(ScHandle service) {
  return StartServiceW(ToNative(service), 0, nullptr) != FALSE;
}

bool ControlNamedService(ScHandle service, std::uint32_t control,
                         ServiceStatus* status) {
  // The record goes in as the caller holds it, so that whatever the platform
  // leaves untouched on a refusal stays as it was.
  SERVICE_STATUS native{};
  native.dwServiceType = status->serviceType;
  native.dwCurrentState = status->currentState;
  native.dwControlsAccepted = status->controlsAccepted;
  native.dwWin32ExitCode = status->win32ExitCode;
  native.dwServiceSpecificExitCode = status->serviceSpecificExitCode;
  native.dwCheckPoint = status->checkPoint;
  native.dwWaitHint = status->waitHint;
  const BOOL ok = ControlService(ToNative(service), control, &native);
  CopyStatus(native, status);
  return ok != FALSE;
}

void CloseServiceManagerHandle(ScHandle handle) {
  // Closing must not hide the error of the call that failed before it.
  const DWORD error = GetLastError();
  CloseServiceHandle(ToNative(handle));
  SetLastError(error);
}

std::uint32_t LastServiceError() { return GetLastError(); }

}  // namespace platform

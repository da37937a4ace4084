#include <windows.h>

#include <atomic>

#include "platform/service_runtime.h"

namespace platform {

namespace {

// The platform calls back with its own shapes; these hold the portable
// functions they forward to. One dispatcher and one handler per process.
std::atomic<ServiceMainFunction> dispatchedMain{nullptr};
std::atomic<ServiceControlHandler> registeredHandler{nullptr};

VOID WINAPI ForwardServiceMain(DWORD argumentCount, LPWSTR* arguments) {
  const ServiceMainFunction serviceMain = dispatchedMain.load();
  if (serviceMain != nullptr) serviceMain(argumentCount, arguments);
}

DWORD WINAPI ForwardControl(DWORD control, DWORD eventType, LPVOID eventData,
                            LPVOID context) {
  const ServiceControlHandler handler = registeredHandler.load();
  if (handler == nullptr) return ERROR_CALL_NOT_IMPLEMENTED;
  return handler(control, eventType, eventData, context);
}

}  // namespace

bool StartServiceDispatcher(const wchar_t* serviceName,
                            ServiceMainFunction serviceMain) {
  dispatchedMain.store(serviceMain);
  SERVICE_TABLE_ENTRYW table[] = {
      {const_cast<wchar_t*>(serviceName), ForwardServiceMain},
      {nullptr, nullptr},
  };
  return StartServiceCtrlDispatcherW(table) != FALSE;
}

ServiceStatusHandle RegisterServiceControlHandler(const wchar_t* serviceName,
                                                  ServiceControlHandler handler,
                                                  void* context) {
  registeredHandler.store(handler);
  return reinterpret_cast<ServiceStatusHandle>(
      RegisterServiceCtrlHandlerExW(serviceName, ForwardControl, context));
}

bool ReportServiceStatus(ServiceStatusHandle handle,
                         const ServiceStatus& status) {
  if (handle == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return false;
  }
  SERVICE_STATUS native{};
  native.dwServiceType = status.serviceType;
  native.dwCurrentState = status.currentState;
  native.dwControlsAccepted = status.controlsAccepted;
  native.dwWin32ExitCode = status.win32ExitCode;
  native.dwServiceSpecificExitCode = status.serviceSpecificExitCode;
  native.dwCheckPoint = status.checkPoint;
  native.dwWaitHint = status.waitHint;
  return SetServiceStatus(reinterpret_cast<SERVICE_STATUS_HANDLE>(handle),
                          &native) != FALSE;
}

}  // namespace platform

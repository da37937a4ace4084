// The Service Control Manager: opening it, creating, configuring, deleting,
// starting and controlling services.
#ifndef DIDUROZIR_PLATFORM_SERVICE_CONTROL_H_
#define DIDUROZIR_PLATFORM_SERVICE_CONTROL_H_

#include <cstdint>
#include <string>
#include <utility>

#include "platform/process_handle.h"

namespace platform {

// A service's status as the Service Control Manager reports it; the fields of
// SERVICE_STATUS in their order.
struct ServiceStatus {
  std::uint32_t serviceType;
  std::uint32_t currentState;
  std::uint32_t controlsAccepted;
  std::uint32_t win32ExitCode;
  std::uint32_t serviceSpecificExitCode;
  std::uint32_t checkPoint;
  std::uint32_t waitHint;
};

// What to do when the service's process ends without reporting stopped
// (SC_ACTION).
struct ServiceAction {
  std::uint32_t type;   // 0 none, 1 restart, 2 reboot, 3 run command
  std::uint32_t delay;  // milliseconds before the action
};

// SERVICE_FAILURE_ACTIONSW. A null `actions` leaves the service's actions as
// they are.
struct ServiceFailureActions {
  std::uint32_t resetPeriod;  // seconds without failure that reset the count
  wchar_t* rebootMessage;
  wchar_t* command;
  std::uint32_t actionCount;
  ServiceAction* actions;
};

// The arguments of CreateServiceW after the manager handle. Null names are
// passed as null: an empty `serviceStartName` must be null for LocalSystem.
struct ServiceCreation {
  const wchar_t* serviceName;
  const wchar_t* displayName;
  std::uint32_t desiredAccess;
  std::uint32_t serviceType;
  std::uint32_t startType;
  std::uint32_t errorControl;
  const wchar_t* binaryPathName;
  const wchar_t* loadOrderGroup;
  const wchar_t*
      dependencies;  // a list: each name NUL-ended, then one more NUL
  const wchar_t* serviceStartName;
  const wchar_t* password;
};

// A handle to the manager or to one service (SC_HANDLE).
struct ScHandleObject;
using ScHandle = ScHandleObject*;

// Every function below returns null or false on failure and leaves the reason
// for LastServiceError.

// The manager of the local machine's active database.
ScHandle OpenServiceManager(std::uint32_t access);
ScHandle OpenNamedService(ScHandle manager, const wchar_t* serviceName,
                          std::uint32_t access);
// No tag identifier is asked for.
ScHandle CreateNamedService(ScHandle manager, const ServiceCreation& creation);
bool SetServiceDescription(ScHandle service, const wchar_t* description);
bool SetServiceFailureActions(ScHandle service,
                              const ServiceFailureActions& actions);
// The command line the service is registered to run (its binary path, as
// stored: quoted or not) into `path`.
bool QueryServiceBinaryPath(ScHandle service, std::wstring& path);
// Rewrites the registration from `creation` (ChangeServiceConfigW); the name
// stays, `desiredAccess` is not used.
bool ChangeServiceSettings(ScHandle service, const ServiceCreation& creation);
// Marks the service for deletion; it goes once every handle to it is closed.
bool DeleteNamedService(ScHandle service);
// Starts the service without arguments.
bool StartNamedService(ScHandle service);
// Sends `control`; `status` receives the latest status on success and, for
// some refusals (not active, cannot accept), as well.
bool ControlNamedService(ScHandle service, std::uint32_t control,
                         ServiceStatus* status);
void CloseServiceManagerHandle(ScHandle handle);
// The ID of the process the service runs in; 0 when it runs in none or that
// can't be told.
std::uint32_t ServiceProcessId(ScHandle service);
// Opens the process that the service runs in now, so that its end can be
// awaited (WaitForProcessEnd) through a stop: held open, its PID can't pass to
// another process. Null when the service runs in none (kNoSuchProcess) or its
// process can't be opened (kRefused).
ProcessHandle* OpenServiceProcess(ScHandle service, OpenFailure* failure);
// The calling thread's last error code (GetLastError).
std::uint32_t LastServiceError();

// Owns a manager or service handle and closes it exactly once.
class ScopedScHandle {
 public:
  explicit ScopedScHandle(ScHandle handle = nullptr) : handle_(handle) {}
  ScopedScHandle(ScopedScHandle&& other) noexcept
      : handle_(std::exchange(other.handle_, nullptr)) {}
  ScopedScHandle& operator=(ScopedScHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      handle_ = std::exchange(other.handle_, nullptr);
    }
    return *this;
  }
  ScopedScHandle(const ScopedScHandle&) = delete;
  ScopedScHandle& operator=(const ScopedScHandle&) = delete;
  ~ScopedScHandle() { Reset(); }

  bool IsValid() const { return handle_ != nullptr; }
  ScHandle Get() const { return handle_; }
  void Reset() {
    if (handle_ != nullptr) {
      CloseServiceManagerHandle(std::exchange(handle_, nullptr));
    }
  }

 private:
  ScHandle handle_;  // Null when nothing is owned.
};

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_SERVICE_CONTROL_H_

// The watchdog's own Windows service: its identity and settings, the Service
// Control Manager operations on it, and the service body with its control
// handler.
#ifndef DIDUROZIR_SERVICE_SERVICE_H_
#define DIDUROZIR_SERVICE_SERVICE_H_

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/service_control.h"
#include "platform/service_runtime.h"

// Capacities in UTF-16 units, terminator included.
constexpr std::size_t kNameCapacity = 260;
constexpr std::size_t kDescriptionCapacity = 1024;
// The longest path the system can hand out. The executable's path is stored
// whole, never cut: an unquoted or cut path with a space in the service's
// registration would let another program run in its place.
constexpr std::size_t kPathCapacity = 32768;
constexpr std::size_t kBinaryPathCapacity = kPathCapacity + 2;  // the quotes

// The file of the event messages, beside the executable.
constexpr wchar_t kMessageFileName[] = L"didurozir-messages.dll";

// Service states as the Service Control Manager reports them.
constexpr std::uint32_t kServiceStopped = 1;
constexpr std::uint32_t kServiceStartPending = 2;
constexpr std::uint32_t kServiceStopPending = 3;
constexpr std::uint32_t kServiceRunning = 4;
constexpr std::uint32_t kServiceContinuePending = 5;
constexpr std::uint32_t kServicePausePending = 6;
constexpr std::uint32_t kServicePaused = 7;

// Controls.
constexpr std::uint32_t kControlStop = 1;
constexpr std::uint32_t kControlPause = 2;
constexpr std::uint32_t kControlContinue = 3;
constexpr std::uint32_t kControlInterrogate = 4;
constexpr std::uint32_t kControlShutdown = 5;

// Bits of controlsAccepted.
constexpr std::uint32_t kAcceptStop = 1;
constexpr std::uint32_t kAcceptPauseContinue = 2;
constexpr std::uint32_t kAcceptShutdown = 4;

// System error codes the operations produce or look for.
constexpr std::uint32_t kErrorInvalidHandle = 6;  // the manager can't be opened
constexpr std::uint32_t kWaitTimeout = 258;       // the state never came
constexpr std::uint32_t kErrorServiceNotActive = 1062;
constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;
constexpr std::uint32_t kErrorServiceExists = 1073;

// What this run of the program does, chosen by the command line; the smaller
// value wins when several switches are given.
constexpr std::uint32_t kRunModeUninstall = 0;
constexpr std::uint32_t kRunModeInstall = 1;
constexpr std::uint32_t kRunModeConsoleStart = 2;
constexpr std::uint32_t kRunModeStop = 3;
constexpr std::uint32_t kRunModeStart = 4;
// The MSI package's own operations; any documented switch wins over them.
constexpr std::uint32_t kRunModePackageInstall = 5;
constexpr std::uint32_t kRunModePackageUninstall = 6;
constexpr std::uint32_t kRunModePackageStop = 7;
constexpr std::uint32_t kRunModePackageUndoInstall = 8;
constexpr std::uint32_t kRunModeNone = 255;

// The service's identity, registration parameters and the state shared
// between the service body and its control handler. Text fields end in NUL.
struct ServiceSettingsRecord {
  wchar_t serviceName[kNameCapacity];
  wchar_t displayName[kNameCapacity];
  wchar_t description[kDescriptionCapacity];
  wchar_t binaryPathName[kBinaryPathCapacity];  // quoted when it has a space
  wchar_t moduleDirectory[kPathCapacity];       // the executable's folder
  wchar_t loadOrderGroup[kNameCapacity];
  std::uint32_t desiredAccess;
  std::uint32_t serviceType;
  std::uint32_t startType;
  std::uint32_t errorControl;
  wchar_t dependencies[kNameCapacity];
  wchar_t serviceStartName[kNameCapacity];  // empty: the local system account
  wchar_t password[kNameCapacity];
  platform::ServiceFailureActions failureActions;
  // Written by the service body, read by the control handler on another
  // thread.
  std::atomic<platform::ServiceStatusHandle> statusHandle;
  std::atomic<std::uint32_t> controlsAccepted;
  std::uint32_t runMode;
};

// All zero until the first CServiceManager fills it.
extern ServiceSettingsRecord ServiceSettings;
// 1 once ServiceSettings has been filled. Set back to 0 only to fill it anew.
extern std::uint32_t settingsInitialized;

// Writes `text` into a text field of ServiceSettings, cut to fit but never
// between the two halves of a surrogate pair.
void SetSettingText(wchar_t* field, std::size_t capacity,
                    std::wstring_view text);
template <std::size_t N>
void SetSettingText(wchar_t (&field)[N], std::wstring_view text) {
  SetSettingText(field, N, text);
}

// Constructed first by every entry into the service code; the first one in
// the process fills ServiceSettings from the executable's path.
class CServiceManager {
 public:
  CServiceManager();
  virtual ~CServiceManager();
};

// Held by the entry point and the service body for their whole run.
class CServiceUtility {
 public:
  virtual ~CServiceUtility();
};

// Service Control Manager operations on the service named serviceName. Each
// returns 0 or a system error code: 6 when the manager can't be opened, 258
// when a start or stop did not arrive within 29 one-second polls, otherwise
// the code of the call that failed. No handle is kept between calls.
std::uint32_t InstallService();
// Stops the service first when it is not stopped; keeps it when it won't stop.
std::uint32_t UninstallService();
std::uint32_t StartServiceAndWait();
std::uint32_t StopServiceAndWait();
// The MSI package's operations, whose results become its custom actions' exit
// codes; each returns 0 or a system error code like the operations above.
// Registers the service, or, when it exists already and runs this very
// executable, rewrites its registration to the settings; a registration of
// another executable is refused with 1073 and left as it is.
std::uint32_t PackageInstallService();
// UninstallService, but only of a registration of this very executable: one
// of another executable, like a service that is not there, is left alone and
// no failure.
std::uint32_t PackageUninstallService();
// Stops the service and waits, 10 s at most, for the process it ran in before
// the stop to end, so that its executable can be replaced; 258 when either
// does not finish or that process can't be awaited. A service that is not
// there is no failure.
std::uint32_t PackageStopService();
// Undoes PackageInstallService in a failed fresh installation, as
// PackageUninstallService: only a registration of this very executable goes.
std::uint32_t PackageUndoInstall();
// The service's current state, 1 to 7, or 0 when it can't be obtained.
std::uint32_t QueryServiceState();

// The text for system error `code` in the ANSI code page, ending in a line
// break, in errorText; valid until the next call. A code the system has no
// text for gets a text of our own that names it.
const char* SystemErrorText(std::uint32_t code);
constexpr std::size_t kErrorTextCapacity = 1024;
extern char errorText[kErrorTextCapacity];

// The service body: loads the agent's location, reports the start, starts the
// monitor and waits until the service is stopped. With a console window it
// runs in the foreground, unregistered, and never returns. Returns 0, or 1064
// after a failure that ended it, which it has reported as stopped.
std::uint32_t ServiceMain(std::uint32_t argumentCount, wchar_t** arguments);

// Waits, a second at most, until no ServiceCtrlHandler call is in progress.
// The dispatcher returns as soon as the service reports itself stopped, which
// the stop handler does before it returns; ending the process then would cut
// the handler short and leave the manager's stop request unanswered (Wine
// tells whoever sent the stop that the pipe broke, although the service
// stopped).
void WaitForControlHandlers();
// What the process does after the dispatcher has returned, before it ends:
// WaitForControlHandlers, then a wait of 5 s at most for the monitor threads
// to finish the command they run and write their recovery's record
// (AwaitMonitorEnd), so that no kill goes unrecorded.
void WaitForServiceEnd();

// Obeys stop, shutdown, pause and continue without waiting for the monitor
// thread: the pending report, the monitor told, the final report, and only
// then the control's event (1010-1012; 1003 after a continue that could not
// start the monitor). A shutdown is left, after its pending report (with a
// wait hint) and the monitor told, to the service main thread: it waits 3 s at
// most for the monitor's record, then reports stopped, then writes 1013.
// Returns 0 for every control.
std::uint32_t ServiceCtrlHandler(std::uint32_t control, std::uint32_t eventType,
                                 void* eventData, void* context);

#endif  // DIDUROZIR_SERVICE_SERVICE_H_

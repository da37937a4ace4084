#include <atomic>
#include <exception>

#include "events/events.h"
#include "monitor/monitor.h"
#include "platform/service_runtime.h"
#include "platform/system.h"
#include "service/service.h"

namespace {

constexpr std::uint32_t kPausedPollMs = 1000;
constexpr std::uint32_t kRunningPollMs = 500;
// Reported when the monitor thread could not be started.
constexpr std::uint32_t kErrorExceptionInService = 1064;
// How long the process waits, once stopped, for a monitor thread to finish
// the command it runs and write its recovery's record: a kill command takes
// a moment, the agent's start command may hang. Shorter than the 10 s that an
// uninstallation or the package's stop waits for the process to end.
constexpr std::uint32_t kStopRecordWaitMs = 5000;
// The same at a system shutdown, where the record comes before the stopped
// report and Windows gives a service 5 s in all (WaitToKillServiceTimeout);
// the service main thread sees the shutdown within one poll.
constexpr std::uint32_t kShutdownRecordWaitMs = 3000;
constexpr std::uint32_t kShutdownWaitHintMs =
    kShutdownRecordWaitMs + kPausedPollMs + 1000;

// The state the Service Control Manager last accepted from this process.
std::atomic<std::uint32_t> reportedState{0};
// Set by a shutdown control: the service main thread ends the service.
std::atomic<bool> shutdownRequested{false};

// Tells the Service Control Manager `state`, with the controls accepted so
// far. A refusal (always so in console mode, with no handle) is ignored.
void ReportState(std::uint32_t state, std::uint32_t exitCode = 0,
                 std::uint32_t waitHint = 0) {
  platform::ServiceStatus status{};
  status.serviceType = ServiceSettings.serviceType;
  status.currentState = state;
  status.controlsAccepted = ServiceSettings.controlsAccepted.load();
  status.win32ExitCode = exitCode;
  status.waitHint = waitHint;
  if (platform::ReportServiceStatus(ServiceSettings.statusHandle.load(),
                                    status)) {
    reportedState = state;
  }
}

// Control handler calls in progress, for WaitForControlHandlers.
std::atomic<int> handlersRunning{0};
constexpr int kHandlerWaitPolls = 20;
constexpr std::uint32_t kHandlerWaitPollMs = 50;

class HandlerCall {
 public:
  HandlerCall() { ++handlersRunning; }
  ~HandlerCall() { --handlersRunning; }
  HandlerCall(const HandlerCall&) = delete;
  HandlerCall& operator=(const HandlerCall&) = delete;
};

// Tells the Service Control Manager the state it gives for the service, but
// start pending for "stopped" and for no state at all: right after starting
// the process the manager may not know it yet and answer "not active" (Wine
// does, under load), and echoing that would end the service before it ran.
// Wine refuses to interrogate a service that is start pending, so the query
// gives 0, and takes a 0 when told: a start that reads the state after the
// first report then fails with "Service request timeout".
void ReportQueriedState() {
  const std::uint32_t state = QueryServiceState();
  ReportState(state == kServiceStopped || state == 0 ? kServiceStartPending
                                                     : state);
}

// False when no monitor thread could be started.
bool TryStartMonitor() {
  try {
    StartMonitor();
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

// At a system shutdown: the monitor's record first (a recovery under way
// ends before the process does), then the stopped report, then the event.
std::uint32_t EndAtShutdown() {
  AwaitMonitorEnd(kShutdownRecordWaitMs);
  ReportState(kServiceStopped);
  events::Report(events::kShutdownReceived, {});
  return 0;
}

std::uint32_t RunService() {
  reportedState = 0;
  shutdownRequested = false;
  LoadAgentLocation();
  const bool consoleMode = platform::HasConsoleWindow();
  if (!consoleMode) {
    const platform::ServiceStatusHandle handle =
        platform::RegisterServiceControlHandler(ServiceSettings.serviceName,
                                                ServiceCtrlHandler, nullptr);
    if (handle == nullptr) return 0;
    ServiceSettings.statusHandle = handle;
  }

  ReportState(kServiceStartPending);
  ServiceSettings.controlsAccepted |= kAcceptStop;
  ReportQueriedState();
  // Shutdown with pause and continue: a system going down must not see its
  // agent restarted.
  ServiceSettings.controlsAccepted |= kAcceptPauseContinue | kAcceptShutdown;
  ReportQueriedState();
  if (!TryStartMonitor()) {
    // Without its monitor the service would only pretend to watch.
    events::Report(events::kMonitorNotStarted, {});
    ReportState(kServiceStopped, kErrorExceptionInService);
    return 0;
  }
  ReportState(kServiceRunning);

  for (;;) {
    if (shutdownRequested) return EndAtShutdown();
    // Under the manager the loop follows this process's own reports and sends
    // no control: Wine's manager kills a service's process when any control
    // reaches it between a stop it took and the "stop pending" report, and
    // leaves the service marked running with no process.
    const std::uint32_t state =
        consoleMode ? QueryServiceState() : reportedState.load();
    if (!consoleMode && state == kServiceStopped) return 0;
    platform::SleepMilliseconds(state == kServicePaused ? kPausedPollMs
                                                        : kRunningPollMs);
  }
}

}  // namespace

std::uint32_t ServiceMain(std::uint32_t, wchar_t**) {
  platform::RestrictDllSearchToSystemDirectory();
  const CServiceManager manager;
  const CServiceUtility utility;
  // Run by the dispatcher, nothing may escape into the platform. A failure
  // after the registration would leave the service start pending or running
  // without a monitor, and the dispatcher waiting for ever: it ends the
  // service instead.
  try {
    return RunService();
  } catch (...) {
  }
  ReportState(kServiceStopped, kErrorExceptionInService);
  return kErrorExceptionInService;
}

// A handler never blocks, so this takes a moment at most; bounded all the
// same.
void WaitForControlHandlers() {
  for (int poll = 0; poll < kHandlerWaitPolls && handlersRunning > 0; ++poll) {
    platform::SleepMilliseconds(kHandlerWaitPollMs);
  }
}

void WaitForServiceEnd() {
  WaitForControlHandlers();
  AwaitMonitorEnd(kStopRecordWaitMs);
}

std::uint32_t ServiceCtrlHandler(std::uint32_t control, std::uint32_t, void*,
                                 void*) {
  const HandlerCall call;
  // The report a control ends with, sent whatever fails before it: the
  // manager would otherwise keep the service pending for good.
  std::uint32_t finalState = 0;
  // Written only after that report: the Event Log service may be slow, or
  // itself stopping at system shutdown, and must not hold the report.
  std::uint32_t event = 0;
  bool monitorNotStarted = false;
  switch (control) {
    case kControlStop:
      finalState = kServiceStopped;
      event = events::kStopReceived;
      break;
    case kControlShutdown:
      // Reported stopped, and recorded, by the service main thread once the
      // monitor has written its record (EndAtShutdown).
      break;
    case kControlPause:
      finalState = kServicePaused;
      event = events::kPauseReceived;
      break;
    case kControlContinue:
      // Still paused until a monitor thread runs again.
      finalState = kServicePaused;
      event = events::kContinueReceived;
      break;
    default:
      break;  // interrogate and the rest: nothing to report
  }
  try {
    platform::RestrictDllSearchToSystemDirectory();
    const CServiceManager manager;
    switch (control) {
      case kControlStop:
        ReportState(kServiceStopPending);
        RequestMonitorStop();
        break;
      case kControlShutdown:
        ReportState(kServiceStopPending, 0, kShutdownWaitHintMs);
        RequestMonitorStop();
        break;
      case kControlPause:
        ReportState(kServicePausePending);
        RequestMonitorStop();
        break;
      case kControlContinue:
        ReportState(kServiceContinuePending);
        if (TryStartMonitor()) {
          finalState = kServiceRunning;
        } else {
          monitorNotStarted = true;
        }
        break;
      default:
        break;
    }
  } catch (...) {
    // Called by the dispatcher: nothing may escape into the platform. The
    // monitor still sees the flag at its next test; a failed continue leaves
    // the service paused, as a monitor that cannot start does.
    if (control == kControlContinue) {
      monitorNotStarted = true;
    } else {
      stopRequested = true;
    }
  }
  if (control == kControlShutdown) shutdownRequested = true;
  if (finalState == 0) return 0;
  ReportState(finalState);
  events::Report(event, {});
  if (monitorNotStarted) events::Report(events::kMonitorNotStarted, {});
  return 0;
}

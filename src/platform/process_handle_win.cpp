#include "platform/process_handle_win.h"

#include <windows.h>

namespace platform {
namespace {

// ProcessBreakOnTermination of NtQueryInformationProcess: a ULONG, nonzero
// when the system stops with a bug check if the process ends.
constexpr ULONG kProcessBreakOnTermination = 29;

using GetSystemTimePreciseAsFileTimeFunction = VOID(WINAPI*)(LPFILETIME);

HANDLE ToHandle(ProcessHandle* process) {
  return reinterpret_cast<HANDLE>(process);
}

std::uint64_t ToUint64(const FILETIME& time) {
  return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) |
         time.dwLowDateTime;
}

// An export of a DLL that every process has loaded, looked up at run time:
// the ones used here are missing from older Windows versions (and Wine).
template <typename Function>
Function SystemExport(const wchar_t* module, const char* name) {
  const HMODULE loaded = GetModuleHandleW(module);
  if (loaded == nullptr) return nullptr;
  // Through void(*)(), which converts to any function pointer unwarned.
  return reinterpret_cast<Function>(
      reinterpret_cast<void (*)()>(GetProcAddress(loaded, name)));
}

}  // namespace

ProcessHandle* OpenProcessHandle(std::uint32_t pid, OpenFailure* failure) {
  const HANDLE handle =
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, pid);
  if (handle == nullptr) {
    // The system answers a PID that names no process (any more) with
    // ERROR_INVALID_PARAMETER; anything else is a refusal.
    *failure = GetLastError() == ERROR_INVALID_PARAMETER
                   ? OpenFailure::kNoSuchProcess
                   : OpenFailure::kRefused;
    return nullptr;
  }
  *failure = OpenFailure::kNone;
  return reinterpret_cast<ProcessHandle*>(handle);
}

bool WaitForProcessEnd(ProcessHandle* process, std::uint32_t timeoutMs) {
  return WaitForSingleObject(ToHandle(process), timeoutMs) == WAIT_OBJECT_0;
}

void CloseProcessHandle(ProcessHandle* process) {
  CloseHandle(ToHandle(process));
}

bool ProcessCreationTime(ProcessHandle* process, std::uint64_t* time) {
  FILETIME creation = {};
  FILETIME exit = {};
  FILETIME kernel = {};
  FILETIME user = {};
  if (!GetProcessTimes(ToHandle(process), &creation, &exit, &kernel, &user)) {
    return false;
  }
  *time = ToUint64(creation);
  return true;
}

ProcessAnswer HasProcessEnded(ProcessHandle* process) {
  switch (WaitForSingleObject(ToHandle(process), 0)) {
    case WAIT_OBJECT_0:
      return ProcessAnswer::kYes;
    case WAIT_TIMEOUT:
      return ProcessAnswer::kNo;
    default:
      return ProcessAnswer::kUnknown;
  }
}

ProcessAnswer ProcessCriticality(
    ProcessHandle* process, IsProcessCriticalFunction isProcessCritical,
    NtQueryInformationProcessFunction ntQueryInformationProcess) {
  if (isProcessCritical != nullptr) {
    BOOL critical = FALSE;
    if (!isProcessCritical(ToHandle(process), &critical)) {
      return ProcessAnswer::kUnknown;
    }
    return critical ? ProcessAnswer::kYes : ProcessAnswer::kNo;
  }
  // Where that export is missing, the flag it reads. A system that does not
  // know the class answers STATUS_INVALID_INFO_CLASS: no answer.
  if (ntQueryInformationProcess == nullptr) return ProcessAnswer::kUnknown;
  ULONG breakOnTermination = 0;
  ULONG length = 0;
  const LONG status = ntQueryInformationProcess(
      ToHandle(process), kProcessBreakOnTermination, &breakOnTermination,
      sizeof breakOnTermination, &length);
  if (status < 0 || length != sizeof breakOnTermination) {
    return ProcessAnswer::kUnknown;
  }
  return breakOnTermination != 0 ? ProcessAnswer::kYes : ProcessAnswer::kNo;
}

ProcessAnswer IsProcessCritical(ProcessHandle* process) {
  // Windows 8.1 and later.
  static const auto isProcessCritical = SystemExport<IsProcessCriticalFunction>(
      L"kernel32.dll", "IsProcessCritical");
  static const auto ntQueryInformationProcess =
      SystemExport<NtQueryInformationProcessFunction>(
          L"ntdll.dll", "NtQueryInformationProcess");
  return ProcessCriticality(process, isProcessCritical,
                            ntQueryInformationProcess);
}

std::uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

std::uint64_t SystemTimeNow() {
  // Windows 8 and later; the plain one lags the clock by up to a timer tick,
  // which would let a process created just before count as created after.
  static const auto precise =
      SystemExport<GetSystemTimePreciseAsFileTimeFunction>(
          L"kernel32.dll", "GetSystemTimePreciseAsFileTime");
  FILETIME now = {};
  if (precise != nullptr) {
    precise(&now);
  } else {
    GetSystemTimeAsFileTime(&now);
  }
  return ToUint64(now);
}

}  // namespace platform

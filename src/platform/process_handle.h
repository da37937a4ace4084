// One process, held open by its PID: while the handle is open the system
// gives that PID to no other process, so what is asked of it, and any kill
// command for it, reaches the process that was opened.
#ifndef DIDUROZIR_PLATFORM_PROCESS_HANDLE_H_
#define DIDUROZIR_PLATFORM_PROCESS_HANDLE_H_

#include <cstdint>
#include <utility>

namespace platform {

// An open process (opened for limited queries and for waiting on its end).
struct ProcessHandle;

// What the system answers to a yes-or-no question about a process; kUnknown
// when it can't or won't tell.
enum class ProcessAnswer { kNo, kYes, kUnknown };

// Why OpenProcessHandle gave nothing.
enum class OpenFailure {
  kNone,
  kNoSuchProcess,  // no process has this PID now
  kRefused,        // a process may have it, but the system refused the open
};

// Opens the process `pid` with PROCESS_QUERY_LIMITED_INFORMATION |
// SYNCHRONIZE; null when it can't, with the reason in `failure`.
ProcessHandle* OpenProcessHandle(std::uint32_t pid, OpenFailure* failure);

void CloseProcessHandle(ProcessHandle* process);

// When the process was created, in the units of SystemTimeNow; false when
// the system can't tell.
bool ProcessCreationTime(ProcessHandle* process, std::uint64_t* time);

// Whether the process has ended (its handle is signalled); never waits.
ProcessAnswer HasProcessEnded(ProcessHandle* process);

// Waits, `timeoutMs` at most, until the process has ended; true when it has.
bool WaitForProcessEnd(ProcessHandle* process, std::uint32_t timeoutMs);

// Whether Windows marks the process critical: ending it stops the system.
ProcessAnswer IsProcessCritical(ProcessHandle* process);

// The PID of the calling process.
std::uint32_t CurrentProcessId();

// The system time now, as a FILETIME: 100-nanosecond intervals since
// 1 January 1601 (UTC), comparable with ProcessCreationTime.
std::uint64_t SystemTimeNow();

// Owns an open process and closes it exactly once.
class ScopedProcessHandle {
 public:
  explicit ScopedProcessHandle(ProcessHandle* process = nullptr)
      : process_(process) {}
  ScopedProcessHandle(ScopedProcessHandle&& other) noexcept
      : process_(std::exchange(other.process_, nullptr)) {}
  ScopedProcessHandle& operator=(ScopedProcessHandle&& other) noexcept {
    if (this != &other) {
      Reset();
      process_ = std::exchange(other.process_, nullptr);
    }
    return *this;
  }
  ScopedProcessHandle(const ScopedProcessHandle&) = delete;
  ScopedProcessHandle& operator=(const ScopedProcessHandle&) = delete;
  ~ScopedProcessHandle() { Reset(); }

  bool IsValid() const { return process_ != nullptr; }
  ProcessHandle* Get() const { return process_; }
  void Reset() {
    if (process_ != nullptr) {
      CloseProcessHandle(std::exchange(process_, nullptr));
    }
  }

 private:
  ProcessHandle* process_;  // Null when nothing is owned.
};

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_PROCESS_HANDLE_H_

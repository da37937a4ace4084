#include <unistd.h>

#include <chrono>

#include "platform/process_handle.h"

// The native build runs the portable subsystems only: no process is ever
// opened, so every kill decision falls back to what the listing shows.
namespace platform {

ProcessHandle* OpenProcessHandle(std::uint32_t, OpenFailure* failure) {
  *failure = OpenFailure::kRefused;
  return nullptr;
}

void CloseProcessHandle(ProcessHandle*) {}

bool ProcessCreationTime(ProcessHandle*, std::uint64_t*) { return false; }

ProcessAnswer HasProcessEnded(ProcessHandle*) {
  return ProcessAnswer::kUnknown;
}

bool WaitForProcessEnd(ProcessHandle*, std::uint32_t) { return false; }

ProcessAnswer IsProcessCritical(ProcessHandle*) {
  return ProcessAnswer::kUnknown;
}

std::uint32_t CurrentProcessId() {
  return static_cast<std::uint32_t>(getpid());
}

std::uint64_t SystemTimeNow() {
  // From the Unix epoch to 1 January 1601, in 100-nanosecond intervals.
  constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ULL;
  const auto sinceUnixEpoch =
      std::chrono::system_clock::now().time_since_epoch();
  return kUnixEpochAsFileTime +
         static_cast<std::uint64_t>(
             std::chrono::duration_cast<std::chrono::nanoseconds>(
                 sinceUnixEpoch)
                 .count() /
             100);
}

}  // namespace platform

// The list of running processes: a snapshot walked one entry at a time.
#ifndef DIDUROZIR_PLATFORM_PROCESS_LIST_H_
#define DIDUROZIR_PLATFORM_PROCESS_LIST_H_

#include <cstddef>
#include <cstdint>
#include <utility>

namespace platform {

// Room for an image name, the same as the system's own entries.
constexpr std::size_t kImageNameUnits = 260;

// One running process. Filled in place: walking a snapshot allocates nothing.
struct ProcessEntry {
  // The image file name without directory, NUL-terminated.
  wchar_t imageName[kImageNameUnits];
  std::uint32_t pid;
};

// A snapshot of the processes running when it was taken.
struct ProcessSnapshot;

// Takes a snapshot of the running processes; null when it can't.
ProcessSnapshot* OpenProcessSnapshot();

// Fills `entry` with the snapshot's first process; false when there is none
// or the snapshot can't be read.
bool FirstProcess(ProcessSnapshot* snapshot, ProcessEntry* entry);

// Fills `entry` with the process after the one last read; false at the end of
// the snapshot or when it can't be read.
bool NextProcess(ProcessSnapshot* snapshot, ProcessEntry* entry);

void CloseProcessSnapshot(ProcessSnapshot* snapshot);

// Owns a snapshot and closes it exactly once.
class ScopedProcessSnapshot {
 public:
  explicit ScopedProcessSnapshot(ProcessSnapshot* snapshot = nullptr)
      : snapshot_(snapshot) {}
  ScopedProcessSnapshot(ScopedProcessSnapshot&& other) noexcept
      : snapshot_(std::exchange(other.snapshot_, nullptr)) {}
  ScopedProcessSnapshot& operator=(ScopedProcessSnapshot&& other) noexcept {
    if (this != &other) {
      Reset();
      snapshot_ = std::exchange(other.snapshot_, nullptr);
    }
    return *this;
  }
  ScopedProcessSnapshot(const ScopedProcessSnapshot&) = delete;
  ScopedProcessSnapshot& operator=(const ScopedProcessSnapshot&) = delete;
  ~ScopedProcessSnapshot() { Reset(); }

  bool IsValid() const { return snapshot_ != nullptr; }
  ProcessSnapshot* Get() const { return snapshot_; }
  void Reset() {
    if (snapshot_ != nullptr) {
      CloseProcessSnapshot(std::exchange(snapshot_, nullptr));
    }
  }

 private:
  ProcessSnapshot* snapshot_;  // Null when nothing is owned.
};

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_PROCESS_LIST_H_

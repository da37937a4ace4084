// The emulated process list behind platform/process_list.h.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_PROCESS_LIST_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_PROCESS_LIST_H_

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace fakes {

struct FakeProcess {
  std::wstring imageName;
  std::uint32_t pid;
};

// Updated under a lock by the walking threads; set it up before they start
// and read it after they have ended or are waiting in a sleep.
struct ProcessListFake {
  std::vector<FakeProcess> processes;  // what a new snapshot sees, in order
  bool failSnapshot = false;           // OpenProcessSnapshot returns null
  bool failFirst = false;              // FirstProcess fails
  bool failNext = false;  // NextProcess fails: only the first entry is seen
  // Runs after every step (FirstProcess or NextProcess) that returned an
  // entry, on the walking thread.
  std::function<void()> onStep;

  int opened = 0;  // snapshots taken
  int closed = 0;  // snapshots closed
  int steps = 0;   // steps that returned an entry

  void Reset() { *this = ProcessListFake(); }
};

ProcessListFake& ProcessList();

// Guards ProcessList() against the walking threads; the emulated process
// handles (fake_process_handle.h) read the same table under it.
std::mutex& ProcessTableLock();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_PROCESS_LIST_H_

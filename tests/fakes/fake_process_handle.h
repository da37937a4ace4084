// Emulated process handles behind platform/process_handle.h, over the
// process table of fake_process_list.h: a PID in ProcessList().processes is a
// process that can be opened, and an opened one has ended once its PID has
// left that table.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_PROCESS_HANDLE_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_PROCESS_HANDLE_H_

#include <cstdint>
#include <map>

#include "platform/process_handle.h"

namespace fakes {

// What the system would tell about one process.
struct FakeProcessFacts {
  std::uint64_t creationTime = 0;  // 0: long before any listing
  bool refuseOpen = false;         // OpenProcessHandle refuses (access denied)
  bool creationTimeFails = false;  // ProcessCreationTime can't tell
  bool waitFails = false;          // HasProcessEnded can't tell
  // Ended, while its PID still names it (someone still holds it).
  bool ended = false;
  // kUnknown: the critical query is not implemented.
  platform::ProcessAnswer critical = platform::ProcessAnswer::kNo;
};

// Updated under ProcessTableLock(); set it up before the threads under test
// start and read it after they have ended or are waiting in a sleep.
struct ProcessHandleFake {
  // By PID; a process without an entry has the defaults.
  std::map<std::uint32_t, FakeProcessFacts> facts;
  std::uint32_t ownPid = 6000;  // CurrentProcessId
  std::uint64_t now = 1000;     // SystemTimeNow

  int opened = 0;  // handles handed out
  int closed = 0;  // handles closed
  int OpenNow() const { return opened - closed; }

  void Reset() { *this = ProcessHandleFake(); }
};

ProcessHandleFake& ProcessHandles();

// A handle of process `pid` as OpenProcessHandle hands one out, counted in
// ProcessHandles(), for the fakes of other calls that open a process.
platform::ProcessHandle* OpenFakeProcess(std::uint32_t pid);
std::uint32_t FakeProcessPid(const platform::ProcessHandle* process);

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_PROCESS_HANDLE_H_

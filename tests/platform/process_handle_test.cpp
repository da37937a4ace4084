// Processes held open by PID, on the real system (under Wine for the
// Windows build): creation times against the clock, the end of a child, and
// a PID without a process.
#include "platform/process_handle.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

#include "handle_count.h"
#include "platform/process_handle_win.h"

namespace {

using platform::OpenFailure;
using platform::ProcessAnswer;
using platform::ScopedProcessHandle;

ScopedProcessHandle Open(std::uint32_t pid, OpenFailure* failure) {
  return ScopedProcessHandle(platform::OpenProcessHandle(pid, failure));
}

TEST(ProcessHandle, TheOwnProcessIsOlderThanNowRunningAndNotCritical) {
  EXPECT_EQ(platform::CurrentProcessId(), GetCurrentProcessId());
  const long handles = testing_handles::OwnHandleCount();
  ASSERT_GT(handles, 0);
  OpenFailure failure = OpenFailure::kRefused;
  ScopedProcessHandle self = Open(platform::CurrentProcessId(), &failure);
  ASSERT_TRUE(self.IsValid());
  EXPECT_EQ(testing_handles::OwnHandleCount(), handles + 1);
  EXPECT_EQ(failure, OpenFailure::kNone);

  std::uint64_t created = 0;
  ASSERT_TRUE(platform::ProcessCreationTime(self.Get(), &created));
  EXPECT_GT(created, 0u);
  EXPECT_LE(created, platform::SystemTimeNow());
  EXPECT_EQ(platform::HasProcessEnded(self.Get()), ProcessAnswer::kNo);
  // Windows answers no; Wine 8 has no answer (no IsProcessCritical, and
  // STATUS_INVALID_INFO_CLASS for ProcessBreakOnTermination).
  EXPECT_NE(platform::IsProcessCritical(self.Get()), ProcessAnswer::kYes);
  self.Reset();
  EXPECT_EQ(testing_handles::OwnHandleCount(), handles);
}

// Windows' answers, handed in where Wine has none: one read the wrong way
// round would spare every holder of a port, or kill the system.
template <BOOL kCritical>
BOOL WINAPI IsCritical(HANDLE, PBOOL critical) {
  *critical = kCritical;
  return TRUE;
}
BOOL WINAPI IsCriticalFails(HANDLE, PBOOL) { return FALSE; }
template <ULONG kBreakOnTermination>
LONG WINAPI QueryBreakOnTermination(HANDLE, ULONG infoClass, PVOID data,
                                    ULONG size, PULONG length) {
  constexpr LONG kInvalidInfoClass = static_cast<LONG>(0xC0000003);
  if (infoClass != 29 || size != sizeof(ULONG)) return kInvalidInfoClass;
  *static_cast<ULONG*>(data) = kBreakOnTermination;
  *length = sizeof(ULONG);
  return 0;
}

TEST(ProcessHandle, CriticalAsTheSystemAnswers) {
  const struct {
    platform::IsProcessCriticalFunction kernel32;
    platform::NtQueryInformationProcessFunction ntdll;
    ProcessAnswer expected;
  } cases[] = {
      {IsCritical<TRUE>, nullptr, ProcessAnswer::kYes},
      {IsCritical<FALSE>, nullptr, ProcessAnswer::kNo},
      {IsCriticalFails, QueryBreakOnTermination<0>, ProcessAnswer::kUnknown},
      {nullptr, QueryBreakOnTermination<1>, ProcessAnswer::kYes},
      {nullptr, QueryBreakOnTermination<0>, ProcessAnswer::kNo},
      {nullptr, nullptr, ProcessAnswer::kUnknown},
  };
  for (std::size_t i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
    EXPECT_EQ(platform::ProcessCriticality(nullptr, cases[i].kernel32,
                                           cases[i].ntdll),
              cases[i].expected)
        << "case " << i;
  }
}

// A child started after a moment is created after it, and its end shows on
// the held handle. Once nobody holds it, its PID gives no process, the ended
// one (Wine lets go of it a moment later), or a younger one where the system
// gave the PID away again: never a process that looks like the child alive.
TEST(ProcessHandle, AChildIsYoungerThanTheMomentBeforeItAndItsEndShows) {
  const std::uint64_t before = platform::SystemTimeNow();
  wchar_t command[] = L"cmd.exe /c exit 0";
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessW(nullptr, command, nullptr, nullptr, FALSE,
                             CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                             &child));
  CloseHandle(child.hThread);
  OpenFailure failure = OpenFailure::kRefused;
  ScopedProcessHandle held = Open(child.dwProcessId, &failure);
  ASSERT_TRUE(held.IsValid());

  std::uint64_t created = 0;
  ASSERT_TRUE(platform::ProcessCreationTime(held.Get(), &created));
  EXPECT_GT(created, before);
  ASSERT_EQ(WaitForSingleObject(child.hProcess, 10000), WAIT_OBJECT_0);
  CloseHandle(child.hProcess);
  EXPECT_EQ(platform::HasProcessEnded(held.Get()), ProcessAnswer::kYes);

  held.Reset();
  const ScopedProcessHandle again = Open(child.dwProcessId, &failure);
  if (again.IsValid()) {
    std::uint64_t reused = 0;
    ASSERT_TRUE(platform::ProcessCreationTime(again.Get(), &reused));
    EXPECT_TRUE(reused > created ||
                (reused == created && platform::HasProcessEnded(again.Get()) ==
                                          ProcessAnswer::kYes));
  } else {
    EXPECT_EQ(failure, OpenFailure::kNoSuchProcess);
  }
}

TEST(ProcessHandle, APidThatNoProcessHasIsNoSuchProcess) {
  OpenFailure failure = OpenFailure::kNone;
  const ScopedProcessHandle none = Open(0xFFFFFFFCu, &failure);
  EXPECT_FALSE(none.IsValid());
  EXPECT_EQ(failure, OpenFailure::kNoSuchProcess);
}

}  // namespace

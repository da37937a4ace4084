// Processes held open by PID, on the real system (under Wine for the
// Windows build): creation times against the clock, the end of a child, and
// a PID without a process.
#include "platform/process_handle.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>

namespace {

using platform::OpenFailure;
using platform::ProcessAnswer;
using platform::ScopedProcessHandle;

ScopedProcessHandle Open(std::uint32_t pid, OpenFailure* failure) {
  return ScopedProcessHandle(platform::OpenProcessHandle(pid, failure));
}

TEST(ProcessHandle, TheOwnProcessIsOlderThanNowRunningAndNotCritical) {
  EXPECT_EQ(platform::CurrentProcessId(), GetCurrentProcessId());
  OpenFailure failure = OpenFailure::kRefused;
  const ScopedProcessHandle self = Open(platform::CurrentProcessId(), &failure);
  ASSERT_TRUE(self.IsValid());
  EXPECT_EQ(failure, OpenFailure::kNone);

  std::uint64_t created = 0;
  ASSERT_TRUE(platform::ProcessCreationTime(self.Get(), &created));
  EXPECT_GT(created, 0u);
  EXPECT_LE(created, platform::SystemTimeNow());
  EXPECT_EQ(platform::HasProcessEnded(self.Get()), ProcessAnswer::kNo);
  // Windows answers no; Wine 8 has no answer (no IsProcessCritical, and
  // STATUS_INVALID_INFO_CLASS for ProcessBreakOnTermination).
  EXPECT_NE(platform::IsProcessCritical(self.Get()), ProcessAnswer::kYes);
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

// Tool Help snapshots of the real process list (under Wine).
#include "platform/process_list.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "handle_count.h"

namespace {

std::wstring OwnImageName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path);
  return full.substr(full.find_last_of(L"\\/") + 1);
}

TEST(ProcessSnapshot, ListsThisProcessUnderItsImageName) {
  const platform::ScopedProcessSnapshot snapshot(
      platform::OpenProcessSnapshot());
  ASSERT_TRUE(snapshot.IsValid());
  platform::ProcessEntry entry;
  int count = 0;
  int found = 0;
  for (bool more = platform::FirstProcess(snapshot.Get(), &entry); more;
       more = platform::NextProcess(snapshot.Get(), &entry)) {
    ++count;
    if (entry.pid != GetCurrentProcessId()) continue;
    ++found;
    EXPECT_EQ(std::wstring(entry.imageName), OwnImageName());
  }
  EXPECT_GT(count, 1);
  EXPECT_EQ(found, 1);
  EXPECT_FALSE(platform::NextProcess(snapshot.Get(), &entry));
}

// Counted in the system's handle table: GetProcessHandleCount answers 0 under
// Wine, whatever the process holds.
TEST(ProcessSnapshot, EveryWalkClosesItsHandle) {
  const long before = testing_handles::OwnHandleCount();
  ASSERT_GT(before, 0);
  {
    // The count sees a snapshot that is held.
    const platform::ScopedProcessSnapshot held(platform::OpenProcessSnapshot());
    ASSERT_TRUE(held.IsValid());
    EXPECT_EQ(testing_handles::OwnHandleCount(), before + 1);
  }
  for (int i = 0; i < 200; ++i) {
    platform::ScopedProcessSnapshot snapshot(platform::OpenProcessSnapshot());
    platform::ProcessEntry entry;
    EXPECT_TRUE(platform::FirstProcess(snapshot.Get(), &entry));
    platform::ScopedProcessSnapshot moved(std::move(snapshot));
    EXPECT_FALSE(snapshot.IsValid());
  }
  EXPECT_EQ(testing_handles::OwnHandleCount(), before);
}

}  // namespace

// The executable's own path, however long, at the lengths around the buffer
// ModuleFileName starts with (MAX_PATH) and the ones it grows to: the loader
// cuts a path to fit the buffer it is given, and a cut path must never pass
// for the path.
//
// Wine can't start a program from a path of MAX_PATH units or more, so the
// long path is given to this very process: the loader's record of the main
// module, which GetModuleFileNameW reads, names it for the test's duration.
#include <gtest/gtest.h>
#include <windows.h>
#include <winternl.h>

#include <string>

#include "platform/system.h"

namespace {

// The loader's entry for this program's module, or null.
LDR_DATA_TABLE_ENTRY* MainModuleEntry() {
  // Through ntdll rather than NtCurrentTeb, whose segment read GCC warns of.
  using Query = LONG(WINAPI*)(HANDLE, ULONG, void*, ULONG, ULONG*);
  const auto query =
      reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(
          GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationProcess")));
  PROCESS_BASIC_INFORMATION basic{};
  if (query == nullptr ||
      query(GetCurrentProcess(), 0 /* ProcessBasicInformation */, &basic,
            sizeof basic, nullptr) < 0) {
    return nullptr;
  }
  const PEB* peb = basic.PebBaseAddress;
  void* const base = GetModuleHandleW(nullptr);
  LIST_ENTRY* const head = &peb->Ldr->InMemoryOrderModuleList;
  for (LIST_ENTRY* link = head->Flink; link != head; link = link->Flink) {
    auto* entry =
        CONTAINING_RECORD(link, LDR_DATA_TABLE_ENTRY, InMemoryOrderLinks);
    if (entry->DllBase == base) return entry;
  }
  return nullptr;
}

class ModulePathTest : public ::testing::TestWithParam<std::size_t> {
 protected:
  void SetUp() override {
    entry_ = MainModuleEntry();
    ASSERT_NE(entry_, nullptr);
    saved_ = entry_->FullDllName;
  }
  void TearDown() override {
    if (entry_ != nullptr) entry_->FullDllName = saved_;
  }

  // Names `path` as this program's path in the loader's record.
  void Rename(std::wstring& path) {
    entry_->FullDllName.Buffer = &path[0];
    entry_->FullDllName.Length =
        static_cast<USHORT>(path.size() * sizeof(wchar_t));
    entry_->FullDllName.MaximumLength =
        static_cast<USHORT>((path.size() + 1) * sizeof(wchar_t));
  }

  LDR_DATA_TABLE_ENTRY* entry_ = nullptr;
  UNICODE_STRING saved_{};
};

TEST_P(ModulePathTest, IsThePathWhole) {
  const std::size_t length = GetParam();
  const std::wstring file = L"\\platform_module_path_test.exe";
  std::wstring path = L"C:\\";
  while (path.size() + file.size() < length) {
    const std::size_t room = length - file.size() - path.size();
    path += std::wstring(room > 201 ? 200 : room - 1, L'p') + L"\\";
    if (room == 1) path.pop_back();
  }
  path += file;
  ASSERT_EQ(path.size(), length);
  std::wstring named = path;
  Rename(named);

  // What the loader gives a buffer one unit short: cut, no success.
  std::wstring cut(length, L'\0');
  ASSERT_EQ(GetModuleFileNameW(nullptr, &cut[0], static_cast<DWORD>(length)),
            length)
      << "the loader does not read the record this test changes";

  EXPECT_TRUE(platform::ModuleFileName() == path) << "length " << length;
}

// 260 is MAX_PATH, the first buffer; 520 the second; 32767 the longest path.
INSTANTIATE_TEST_SUITE_P(Lengths, ModulePathTest,
                         ::testing::Values(259, 260, 261, 519, 520, 521,
                                           32767));

}  // namespace

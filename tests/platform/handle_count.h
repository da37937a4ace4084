// The number of handles this process holds, read from the system's handle
// table. GetProcessHandleCount can't be trusted for it: Wine answers 0.
#ifndef DIDUROZIR_TESTS_PLATFORM_HANDLE_COUNT_H_
#define DIDUROZIR_TESTS_PLATFORM_HANDLE_COUNT_H_

#include <windows.h>

#include <cstdint>
#include <vector>

namespace testing_handles {

// SYSTEM_HANDLE_TABLE_ENTRY_INFO_EX and its table, as ntdll fills them for
// SystemExtendedHandleInformation.
struct HandleEntry {
  void* object;
  ULONG_PTR processId;
  ULONG_PTR handleValue;
  ULONG grantedAccess;
  USHORT creatorBackTraceIndex;
  USHORT objectTypeIndex;
  ULONG handleAttributes;
  ULONG reserved;
};
struct HandleTable {
  ULONG_PTR count;
  ULONG_PTR reserved;
  HandleEntry entries[1];
};

constexpr ULONG kSystemExtendedHandleInformation = 64;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

// The handles of this process, or -1 when the table can't be read.
inline long OwnHandleCount() {
  using Query = LONG(WINAPI*)(ULONG, void*, ULONG, ULONG*);
  const auto query =
      reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(
          GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
  if (query == nullptr) return -1;
  std::vector<std::uint64_t> buffer(1 << 14);
  for (int attempt = 0; attempt < 16; ++attempt) {
    ULONG needed = 0;
    const ULONG size =
        static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t));
    const LONG status =
        query(kSystemExtendedHandleInformation, buffer.data(), size, &needed);
    if (status == kStatusInfoLengthMismatch) {
      buffer.resize(buffer.size() * 2 + needed / sizeof(std::uint64_t));
      continue;
    }
    if (status < 0) return -1;
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    const ULONG_PTR own = GetCurrentProcessId();
    long count = 0;
    for (ULONG_PTR i = 0; i < table->count; ++i) {
      count += table->entries[i].processId == own;
    }
    return count;
  }
  return -1;
}

}  // namespace testing_handles

#endif  // DIDUROZIR_TESTS_PLATFORM_HANDLE_COUNT_H_

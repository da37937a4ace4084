#include <windows.h>
// Tool Help needs the types of windows.h first.
#include <tlhelp32.h>

#include <cstring>

#include "platform/process_list.h"

namespace platform {
namespace {

static_assert(kImageNameUnits == MAX_PATH,
              "ProcessEntry holds a whole PROCESSENTRY32W image name");

// A snapshot is its Tool Help handle; a valid one is never null, so null
// stands for INVALID_HANDLE_VALUE.
HANDLE ToHandle(ProcessSnapshot* snapshot) {
  return reinterpret_cast<HANDLE>(snapshot);
}

bool CopyEntry(BOOL found, const PROCESSENTRY32W& source, ProcessEntry* entry) {
  if (!found) return false;
  std::memcpy(entry->imageName, source.szExeFile, sizeof(entry->imageName));
  // Tool Help terminates the name; the copy must stay terminated regardless.
  entry->imageName[kImageNameUnits - 1] = L'\0';
  entry->pid = source.th32ProcessID;
  return true;
}

PROCESSENTRY32W EmptyEntry() {
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  return entry;
}

}  // namespace

ProcessSnapshot* OpenProcessSnapshot() {
  const HANDLE handle = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr) return nullptr;
  return reinterpret_cast<ProcessSnapshot*>(handle);
}

bool FirstProcess(ProcessSnapshot* snapshot, ProcessEntry* entry) {
  PROCESSENTRY32W source = EmptyEntry();
  return CopyEntry(Process32FirstW(ToHandle(snapshot), &source), source, entry);
}

bool NextProcess(ProcessSnapshot* snapshot, ProcessEntry* entry) {
  PROCESSENTRY32W source = EmptyEntry();
  return CopyEntry(Process32NextW(ToHandle(snapshot), &source), source, entry);
}

void CloseProcessSnapshot(ProcessSnapshot* snapshot) {
  CloseHandle(ToHandle(snapshot));
}

}  // namespace platform

// winsock2.h before windows.h, which would otherwise bring in winsock.h.
#include <windows.h>
#include <winsock2.h>

#include <cstdio>

#include "platform/system.h"

namespace platform {

std::wstring ModuleFileName() {
  // A path of MAX_PATH or more units comes back cut and filling the buffer;
  // grow until it fits, up to the longest path the system has.
  constexpr DWORD kLongestPath = 32768;
  std::wstring path;
  for (DWORD capacity = MAX_PATH; capacity <= kLongestPath * 2; capacity *= 2) {
    path.assign(capacity, L'\0');
    const DWORD length = GetModuleFileNameW(nullptr, &path[0], capacity);
    if (length == 0) return std::wstring();
    if (length < capacity) {
      path.resize(length);
      return path;
    }
  }
  return std::wstring();
}

bool HasConsoleWindow() { return GetConsoleWindow() != nullptr; }

bool RestrictDllSearchToSystemDirectory() {
  return SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32) != FALSE;
}

wchar_t* FormatSystemMessage(std::uint32_t code) {
  wchar_t* text = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
          FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  if (length == 0) {
    if (text != nullptr) LocalFree(text);
    return nullptr;
  }
  return text;
}

void FreeSystemMessage(wchar_t* text) { LocalFree(text); }

void EndProcess(std::uint32_t exitCode) {
  std::fflush(nullptr);
  // Unlike the runtime's exit, ExitProcess ends the other threads before
  // anything is torn down, and runs no destructor of the program's statics.
  ExitProcess(exitCode);
}

void SleepMilliseconds(std::uint32_t milliseconds) { Sleep(milliseconds); }

bool StartWinsock() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void StopWinsock() { WSACleanup(); }

}  // namespace platform

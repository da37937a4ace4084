// Runs the platform_probe fixture and reads what it wrote.
#ifndef DIDUROZIR_TESTS_PLATFORM_PROBE_RUN_H_
#define DIDUROZIR_TESTS_PLATFORM_PROBE_RUN_H_

#include <windows.h>

#include <cstdio>
#include <string>

namespace probe {

// A file name beside this test program, unique to this process.
inline std::wstring TempFile(const wchar_t* stem) {
  wchar_t path[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, path);
  return std::wstring(path) + stem + L"-" +
         std::to_wstring(GetCurrentProcessId()) + L".bin";
}

// Runs `commandLine` (program `program`) with `flags` and the startup
// information given, waits for it, and returns its exit code, or -1 when it
// could not be run or did not end within 30 s.
inline long Run(const std::wstring& program, std::wstring commandLine,
                DWORD flags, STARTUPINFOW* startup, BOOL inherit = FALSE) {
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr,
                      inherit, flags, nullptr, nullptr, startup, &process)) {
    return -1;
  }
  CloseHandle(process.hThread);
  DWORD code = static_cast<DWORD>(-1);
  if (WaitForSingleObject(process.hProcess, 30000) != WAIT_OBJECT_0 ||
      !GetExitCodeProcess(process.hProcess, &code)) {
    TerminateProcess(process.hProcess, 1);
    code = static_cast<DWORD>(-1);
  }
  CloseHandle(process.hProcess);
  return static_cast<long>(code);
}

// The whole file as bytes; empty when it can't be read.
inline std::string ReadBytes(const std::wstring& path) {
  std::string bytes;
  std::FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) return bytes;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) != 0) {
    bytes.append(buffer, got);
  }
  std::fclose(file);
  return bytes;
}

inline std::wstring ReadWide(const std::wstring& path) {
  const std::string bytes = ReadBytes(path);
  std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
  if (!text.empty())
    bytes.copy(reinterpret_cast<char*>(&text[0]), bytes.size());
  return text;
}

}  // namespace probe

#endif  // DIDUROZIR_TESTS_PLATFORM_PROBE_RUN_H_

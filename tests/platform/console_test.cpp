// Standard output as the console and a redirection get it. In a console the
// text goes as UTF-16 with every line feed made CR LF, what the runtime's
// text mode would have written; redirected, the bytes go through the
// runtime's text mode as they always did. The probe writes "ab\ncd\n" and
// "e\r\n\n" as ANSI text and U+00E5 with a line feed as UTF-8.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "probe_run.h"

namespace {

const std::wstring kProbe = L"" DIDUROZIR_PLATFORM_PROBE;

using CreatePseudoConsoleFunction = HRESULT(WINAPI*)(COORD, HANDLE, HANDLE,
                                                     DWORD, void**);
using ClosePseudoConsoleFunction = void(WINAPI*)(void*);
constexpr DWORD_PTR kPseudoConsoleAttribute = 0x00020016;

// Keeps the pseudo console's output pipe drained, so that it never blocks.
DWORD WINAPI Drain(void* pipe) {
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(pipe, buffer, sizeof buffer, &got, nullptr) && got != 0) {
  }
  return 0;
}

TEST(ConsoleOutputTest, AConsoleGetsUtf16WithCrLf) {
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const auto create = reinterpret_cast<CreatePseudoConsoleFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "CreatePseudoConsole")));
  const auto close = reinterpret_cast<ClosePseudoConsoleFunction>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "ClosePseudoConsole")));
  if (create == nullptr || close == nullptr) {
    GTEST_SKIP() << "no pseudo console here";
  }
  HANDLE inRead = nullptr, inWrite = nullptr, outRead = nullptr,
         outWrite = nullptr;
  ASSERT_TRUE(CreatePipe(&inRead, &inWrite, nullptr, 0));
  ASSERT_TRUE(CreatePipe(&outRead, &outWrite, nullptr, 0));
  void* console = nullptr;
  ASSERT_EQ(create({80, 25}, inRead, outWrite, 0, &console), S_OK);
  const HANDLE drain = CreateThread(nullptr, 0, Drain, outRead, 0, nullptr);

  SIZE_T size = 0;
  InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
  std::string attributes(size, '\0');
  STARTUPINFOEXW startup{};
  startup.StartupInfo.cb = sizeof startup;
  startup.lpAttributeList =
      reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(&attributes[0]);
  ASSERT_TRUE(
      InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &size));
  ASSERT_TRUE(UpdateProcThreadAttribute(startup.lpAttributeList, 0,
                                        kPseudoConsoleAttribute, console,
                                        sizeof console, nullptr, nullptr));
  const std::wstring result = probe::TempFile(L"console");
  const long code =
      probe::Run(kProbe, L"\"" + kProbe + L"\" console \"" + result + L"\"",
                 EXTENDED_STARTUPINFO_PRESENT, &startup.StartupInfo);
  DeleteProcThreadAttributeList(startup.lpAttributeList);
  close(console);
  CloseHandle(inWrite);
  CloseHandle(outWrite);
  WaitForSingleObject(drain, 10000);
  CloseHandle(drain);
  CloseHandle(inRead);
  CloseHandle(outRead);

  ASSERT_EQ(code, 0);
  EXPECT_EQ(probe::ReadWide(result), L"ab\r\ncd\r\n\u00e5\r\ne\r\r\n\r\n");
  DeleteFileW(result.c_str());
}

TEST(ConsoleOutputTest, ARedirectionGetsTheBytesInTextMode) {
  const std::wstring result = probe::TempFile(L"stdout");
  SECURITY_ATTRIBUTES inheritable{sizeof inheritable, nullptr, TRUE};
  const HANDLE file =
      CreateFileW(result.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable,
                  CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = file;
  startup.hStdError = file;
  const long code = probe::Run(kProbe, L"\"" + kProbe + L"\" stdout",
                               CREATE_NO_WINDOW, &startup, TRUE);
  CloseHandle(file);
  ASSERT_EQ(code, 0);
  EXPECT_EQ(probe::ReadBytes(result), "ab\r\ncd\r\n\xc3\xa5\r\ne\r\r\n\r\n");
  DeleteFileW(result.c_str());
}

}  // namespace

// Process-wide services of the system: the executable's path, the console,
// the DLL search path, error texts, sleeping and Winsock.
#ifndef DIDUROZIR_PLATFORM_SYSTEM_H_
#define DIDUROZIR_PLATFORM_SYSTEM_H_

#include <cstdint>
#include <string>
#include <utility>

namespace platform {

// The full path of the process's executable, however long; empty when the
// loader can't tell.
std::wstring ModuleFileName();

// True when the process has a console window.
bool HasConsoleWindow();

// Lets the process load DLLs from the system directory only
// (SetDefaultDllDirectories with LOAD_LIBRARY_SEARCH_SYSTEM32).
bool RestrictDllSearchToSystemDirectory();

// The system message table's text for `code` in the default language, with
// its closing line break, allocated by the system; null when there is none.
// Release it with FreeSystemMessage.
wchar_t* FormatSystemMessage(std::uint32_t code);
void FreeSystemMessage(wchar_t* text);

// Owns a text from FormatSystemMessage and releases it exactly once.
class ScopedSystemMessage {
 public:
  explicit ScopedSystemMessage(wchar_t* text = nullptr) : text_(text) {}
  ScopedSystemMessage(ScopedSystemMessage&& other) noexcept
      : text_(std::exchange(other.text_, nullptr)) {}
  ScopedSystemMessage& operator=(ScopedSystemMessage&& other) noexcept {
    if (this != &other) {
      Reset();
      text_ = std::exchange(other.text_, nullptr);
    }
    return *this;
  }
  ScopedSystemMessage(const ScopedSystemMessage&) = delete;
  ScopedSystemMessage& operator=(const ScopedSystemMessage&) = delete;
  ~ScopedSystemMessage() { Reset(); }

  bool IsValid() const { return text_ != nullptr; }
  const wchar_t* Get() const { return text_; }
  void Reset() {
    if (text_ != nullptr) FreeSystemMessage(std::exchange(text_, nullptr));
  }

 private:
  wchar_t* text_;  // Null when nothing is owned.
};

// Flushes the standard streams and ends the process with `exitCode` at once:
// other threads end first, and no static object is destroyed while one of
// them might still use it.
[[noreturn]] void EndProcess(std::uint32_t exitCode);

// Suspends the calling thread; not interruptible.
void SleepMilliseconds(std::uint32_t milliseconds);

// WSAStartup for version 2.0; false when Winsock can't be started.
bool StartWinsock();
// WSACleanup, once for each successful StartWinsock.
void StopWinsock();

// Keeps Winsock started for its lifetime.
class WinsockSession {
 public:
  WinsockSession() : started_(StartWinsock()) {}
  WinsockSession(const WinsockSession&) = delete;
  WinsockSession& operator=(const WinsockSession&) = delete;
  ~WinsockSession() {
    if (started_) StopWinsock();
  }

  bool IsStarted() const { return started_; }

 private:
  bool started_;
};

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_SYSTEM_H_

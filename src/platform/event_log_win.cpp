#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/text.h"

namespace platform {
namespace {

constexpr wchar_t kApplicationLogKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// The Event Log takes inserts up to 31,839 UTF-16 units; each is cut to this
// many, at a character's boundary.
constexpr std::size_t kInsertLimit = 31000;

class ScopedEventSource {
 public:
  explicit ScopedEventSource(const wchar_t* source)
      : handle_(RegisterEventSourceW(nullptr, source)) {}
  ScopedEventSource(const ScopedEventSource&) = delete;
  ScopedEventSource& operator=(const ScopedEventSource&) = delete;
  ~ScopedEventSource() {
    if (handle_ != nullptr) DeregisterEventSource(handle_);
  }
  HANDLE Get() const { return handle_; }

 private:
  HANDLE handle_;  // Null when the source could not be registered.
};

class ScopedKey {
 public:
  ScopedKey() = default;
  ScopedKey(const ScopedKey&) = delete;
  ScopedKey& operator=(const ScopedKey&) = delete;
  ~ScopedKey() {
    if (key_ != nullptr) RegCloseKey(key_);
  }
  HKEY* Receive() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;  // Null until a call has opened it.
};

}  // namespace

bool WriteEvent(const wchar_t* source, EventType type, std::uint32_t id,
                const std::vector<std::string>& inserts) {
  try {
    const ScopedEventSource eventSource(source);
    if (eventSource.Get() == nullptr) return false;
    // UTF-16 to the log, whatever the code page: a name the code page lacks
    // would otherwise reach it as '?'.
    std::vector<std::wstring> wide;
    wide.reserve(inserts.size());
    for (const std::string& insert : inserts) {
      const std::u16string units = Utf8ToUtf16(insert, kInsertLimit);
      wide.emplace_back(units.begin(), units.end());
    }
    std::vector<LPCWSTR> strings;
    for (const std::wstring& insert : wide) strings.push_back(insert.c_str());
    return ReportEventW(eventSource.Get(), static_cast<WORD>(type), 0, id,
                        nullptr, static_cast<WORD>(strings.size()), 0,
                        strings.empty() ? nullptr : strings.data(),
                        nullptr) != FALSE;
  } catch (...) {
    return false;  // memory exhaustion: the event is lost, nothing else
  }
}

std::uint32_t RegisterEventLogSource(const wchar_t* source,
                                     const std::wstring& messageFile) {
  const std::wstring path = std::wstring(kApplicationLogKey) + source;
  ScopedKey key;
  LONG result = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                                key.Receive(), nullptr);
  if (result != ERROR_SUCCESS) return static_cast<std::uint32_t>(result);
  // Expandable, as the Event Log expects a message file's path to be.
  result = RegSetValueExW(
      key.Get(), L"EventMessageFile", 0, REG_EXPAND_SZ,
      reinterpret_cast<const BYTE*>(messageFile.c_str()),
      static_cast<DWORD>((messageFile.size() + 1) * sizeof(wchar_t)));
  if (result != ERROR_SUCCESS) return static_cast<std::uint32_t>(result);
  const DWORD types =
      EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
  result = RegSetValueExW(key.Get(), L"TypesSupported", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&types), sizeof types);
  return static_cast<std::uint32_t>(result);
}

std::uint32_t RemoveEventLogSource(const wchar_t* source) {
  const std::wstring path = std::wstring(kApplicationLogKey) + source;
  const LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, path.c_str());
  if (result == ERROR_FILE_NOT_FOUND) return 0;
  return static_cast<std::uint32_t>(result);
}

}  // namespace platform

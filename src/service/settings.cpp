#include <algorithm>
#include <string>

#include "platform/system.h"
#include "service/service.h"

ServiceSettingsRecord ServiceSettings;
std::uint32_t settingsInitialized = 0;

namespace {

constexpr std::uint32_t kServiceAllAccess = 0xF01FF;
constexpr std::uint32_t kServiceWin32OwnProcess = 16;
constexpr std::uint32_t kServiceAutoStart = 2;
constexpr std::uint32_t kServiceErrorNormal = 1;

template <std::size_t N>
void ClearText(wchar_t (&field)[N]) {
  std::fill_n(field, N, L'\0');
}

// Stores `text` whole, or leaves the field empty when it does not fit: for a
// path, a cut one is worse than none.
template <std::size_t N>
void StoreWhole(wchar_t (&field)[N], const std::wstring& text) {
  if (text.size() >= N) {
    field[0] = L'\0';
    return;
  }
  std::copy(text.begin(), text.end(), field);
  field[text.size()] = L'\0';
}

void ClearSettings() {
  ServiceSettingsRecord& s = ServiceSettings;
  ClearText(s.serviceName);
  ClearText(s.displayName);
  ClearText(s.description);
  ClearText(s.binaryPathName);
  ClearText(s.moduleDirectory);
  ClearText(s.loadOrderGroup);
  s.desiredAccess = 0;
  s.serviceType = 0;
  s.startType = 0;
  s.errorControl = 0;
  ClearText(s.dependencies);
  ClearText(s.serviceStartName);
  ClearText(s.password);
  s.failureActions = platform::ServiceFailureActions{};
  s.statusHandle = nullptr;
  s.controlsAccepted = 0;
  s.runMode = 0;
}

void InitializeSettings() {
  settingsInitialized = 1;
  ClearSettings();
  ServiceSettingsRecord& s = ServiceSettings;

  const std::wstring path = platform::ModuleFileName();
  const std::size_t lastBackslash = path.rfind(L'\\');
  const std::wstring fileName = lastBackslash == std::wstring::npos
                                    ? path
                                    : path.substr(lastBackslash + 1);
  // Unquoted, a path with a space is read by the Service Control Manager as a
  // program name followed by arguments.
  StoreWhole(s.binaryPathName, path.find(L' ') == std::wstring::npos
                                   ? path
                                   : L"\"" + path + L"\"");
  StoreWhole(s.moduleDirectory, lastBackslash == std::wstring::npos
                                    ? std::wstring()
                                    : path.substr(0, lastBackslash));
  const std::wstring baseName = fileName.substr(0, fileName.rfind(L'.'));
  SetSettingText(s.serviceName, baseName);
  SetSettingText(s.displayName, baseName);

  s.desiredAccess = kServiceAllAccess;
  s.serviceType = kServiceWin32OwnProcess;
  s.startType = kServiceAutoStart;
  s.errorControl = kServiceErrorNormal;
  s.controlsAccepted = 0;
  s.runMode = kRunModeNone;
}

}  // namespace

CServiceManager::CServiceManager() {
  if (settingsInitialized != 1) InitializeSettings();
}

CServiceManager::~CServiceManager() = default;

CServiceUtility::~CServiceUtility() = default;

void SetSettingText(wchar_t* field, std::size_t capacity,
                    std::wstring_view text) {
  if (capacity == 0) return;  // not even room for the terminator
  std::size_t length = text.size();
  if (length > capacity - 1) {
    length = capacity - 1;
    // A field with room for the terminator only keeps nothing to look at.
    if (length > 0) {
      const wchar_t last = text[length - 1];
      if (last >= 0xD800 && last <= 0xDBFF) --length;
    }
  }
  std::copy_n(text.data(), length, field);
  field[length] = L'\0';
}

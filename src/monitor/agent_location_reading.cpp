#include <algorithm>
#include <string>

#include "monitor/monitor.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace {

// LoadAgentLocation's keys and buffer: the report must show what the service
// would read.
constexpr wchar_t kAgentServiceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
constexpr wchar_t kAgentProductKey[] = L"SOFTWARE\\QUENTAR\\Agent";
constexpr char kAgentServiceKeyText[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
constexpr char kAgentProductKeyText[] =
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\QUENTAR\\Agent";
constexpr std::size_t kValueUnits = 260;

// The value's text up to its first NUL unit, as ANSI of the thread's code
// page; false when it can't be read whole.
bool ReadValue(const wchar_t* keyPath, const wchar_t* name,
               std::uint32_t* openError, std::string* text) {
  const platform::ScopedRegistryKey key(
      platform::OpenMachineKey(keyPath, openError));
  if (!key.IsValid()) return false;
  wchar_t buffer[kValueUnits] = {};
  if (!platform::ReadKeyValue(key.Get(), name, buffer, kValueUnits)) {
    return false;
  }
  const wchar_t* const end = std::find(buffer, buffer + kValueUnits, L'\0');
  *text = platform::WideToAnsi(buffer, static_cast<std::size_t>(end - buffer),
                               platform::CodePage::kThread);
  return true;
}

}  // namespace

AgentLocationReading ReadAgentLocation() {
  AgentLocationReading reading;
  reading.serviceKey = kAgentServiceKeyText;
  reading.productKey = kAgentProductKeyText;
  reading.imagePathRead =
      ReadValue(kAgentServiceKey, L"ImagePath", &reading.serviceKeyError,
                &reading.location.imagePath);
  reading.configPathRead =
      ReadValue(kAgentProductKey, L"configPath", &reading.productKeyError,
                &reading.location.configDirectory);
  return reading;
}

#include <algorithm>
#include <cstddef>
#include <string>

#include "monitor/agent_registry.h"
#include "monitor/monitor.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace agent_registry {

const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
const wchar_t kProductKey[] = L"SOFTWARE\\QUENTAR\\Agent";
const char kServiceKeyText[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
const char kProductKeyText[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\QUENTAR\\Agent";

namespace {

// Each value is read into a fresh buffer of this many units.
constexpr std::size_t kValueUnits = 260;

}  // namespace

ValueRead ReadValue(const wchar_t* keyPath, const wchar_t* name) {
  ValueRead value;
  const platform::ScopedRegistryKey key(
      platform::OpenMachineKey(keyPath, &value.openError));
  if (!key.IsValid()) {
    // A refusal that gives no code still counts as not opened.
    if (value.openError == 0) value.openError = 1;
    return value;
  }
  value.openError = 0;
  wchar_t buffer[kValueUnits] = {};
  value.read = platform::ReadKeyValue(key.Get(), name, buffer, kValueUnits);
  if (value.read) {
    const wchar_t* const end = std::find(buffer, buffer + kValueUnits, L'\0');
    value.text.assign(buffer, static_cast<std::size_t>(end - buffer));
  }
  return value;
}

}  // namespace agent_registry

AgentLocationReading ReadAgentLocation() {
  using agent_registry::ReadValue;
  AgentLocationReading reading;
  reading.serviceKey = agent_registry::kServiceKeyText;
  reading.productKey = agent_registry::kProductKeyText;
  const agent_registry::ValueRead imagePath =
      ReadValue(agent_registry::kServiceKey, L"ImagePath");
  reading.serviceKeyError = imagePath.openError;
  reading.imagePathRead = imagePath.read;
  reading.location.imagePath =
      platform::WideToAnsi(imagePath.text, platform::CodePage::kThread);
  reading.location.imagePathText = platform::WideToUtf8(imagePath.text);
  const agent_registry::ValueRead configPath =
      ReadValue(agent_registry::kProductKey, L"configPath");
  reading.productKeyError = configPath.openError;
  reading.configPathRead = configPath.read;
  reading.location.configDirectory =
      platform::WideToAnsi(configPath.text, platform::CodePage::kThread);
  reading.location.configDirectoryText = platform::WideToUtf8(configPath.text);
  return reading;
}

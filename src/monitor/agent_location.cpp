#include <algorithm>
#include <cstdio>
#include <string>

#include "monitor/monitor.h"
#include "platform/registry.h"
#include "platform/text.h"

AgentLocationRecord AgentLocation;

namespace {

constexpr wchar_t kAgentServiceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
constexpr wchar_t kAgentProductKey[] = L"SOFTWARE\\QUENTAR\\Agent";

// Each value is read into a fresh buffer of this many units.
constexpr std::size_t kValueUnits = 260;

// The value's text up to its first NUL unit, or all of the buffer when the
// data fill it without one; empty when the value can't be read whole.
std::wstring ReadText(const platform::ScopedRegistryKey& key,
                      const wchar_t* name) {
  wchar_t buffer[kValueUnits] = {};
  if (!platform::ReadKeyValue(key.Get(), name, buffer, kValueUnits)) {
    return std::wstring();
  }
  const wchar_t* const end = std::find(buffer, buffer + kValueUnits, L'\0');
  return std::wstring(buffer, static_cast<std::size_t>(end - buffer));
}

}  // namespace

void LoadAgentLocation() {
  std::wstring imagePath;
  {
    const platform::ScopedRegistryKey serviceKey(
        platform::OpenMachineKey(kAgentServiceKey));
    if (serviceKey.IsValid()) {
      imagePath = ReadText(serviceKey, L"ImagePath");
      AgentLocation.imagePath =
          platform::WideToAnsi(imagePath, platform::CodePage::kThread);
    } else {
      std::fputs("quenam RegOpen Error.\n", stdout);
    }
  }
  // Narrow output only: the stream is never switched to wide output.
  std::printf(
      "quenlink path : %s\n\n",
      platform::WideToAnsi(imagePath, platform::CodePage::kThread).c_str());
  std::fflush(stdout);

  const platform::ScopedRegistryKey productKey(
      platform::OpenMachineKey(kAgentProductKey));
  if (!productKey.IsValid()) return;
  AgentLocation.configDirectory = platform::WideToAnsi(
      ReadText(productKey, L"configPath"), platform::CodePage::kThread);
}

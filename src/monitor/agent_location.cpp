#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "events/events.h"
#include "monitor/monitor.h"
#include "platform/console.h"
#include "platform/registry.h"
#include "platform/text.h"

AgentLocationRecord AgentLocation;

namespace {

constexpr wchar_t kAgentServiceKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
constexpr wchar_t kAgentProductKey[] = L"SOFTWARE\\QUENTAR\\Agent";
constexpr char kAgentServiceKeyText[] =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\riduvuruz";

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

// Set by LoadAgentLocation, taken by the first ReportStartOnce.
std::atomic<bool> startToReport{false};

}  // namespace

void ReportStartOnce() {
  if (!startToReport.exchange(false)) return;
  // Best effort: the record must not cost supervision its first cycle.
  try {
    std::string ports;
    for (const std::string& port : BuildWatchedPorts()) {
      if (!ports.empty()) ports += ", ";
      ports += port;
    }
    events::Report(events::kServiceStarted,
                   {AgentLocation.imagePathText,
                    AgentLocation.configDirectoryText, ports});
  } catch (...) {
  }
}

void LoadAgentLocation() {
  std::wstring imagePath;
  {
    const platform::ScopedRegistryKey serviceKey(
        platform::OpenMachineKey(kAgentServiceKey));
    if (serviceKey.IsValid()) {
      imagePath = ReadText(serviceKey, L"ImagePath");
      AgentLocation.imagePath =
          platform::WideToAnsi(imagePath, platform::CodePage::kThread);
      AgentLocation.imagePathText = platform::WideToUtf8(imagePath);
      if (imagePath.empty()) {
        events::Report(events::kAgentImagePathEmpty, {kAgentServiceKeyText});
      }
    } else {
      platform::WriteStdout("quenam RegOpen Error.\n",
                            platform::Encoding::kAnsi);
      events::Report(events::kAgentKeyMissing, {kAgentServiceKeyText});
    }
  }
  // The stream is never switched to wide output.
  platform::WriteStdout(
      "quenlink path : " +
          platform::WideToAnsi(imagePath, platform::CodePage::kThread) + "\n\n",
      platform::Encoding::kAnsi);
  std::fflush(stdout);

  {
    const platform::ScopedRegistryKey productKey(
        platform::OpenMachineKey(kAgentProductKey));
    if (productKey.IsValid()) {
      const std::wstring configDirectory = ReadText(productKey, L"configPath");
      AgentLocation.configDirectory =
          platform::WideToAnsi(configDirectory, platform::CodePage::kThread);
      AgentLocation.configDirectoryText = platform::WideToUtf8(configDirectory);
    }
  }
  startToReport = true;
}

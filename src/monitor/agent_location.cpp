#include <atomic>
#include <cstdio>
#include <string>

#include "events/events.h"
#include "monitor/agent_registry.h"
#include "monitor/monitor.h"
#include "platform/console.h"
#include "platform/text.h"

AgentLocationRecord AgentLocation;

namespace {

// ANSI of the thread's code page for commands and paths; UTF-8 for the record.
void StoreText(const std::wstring& text, std::string* ansi, std::string* utf8) {
  *ansi = platform::WideToAnsi(text, platform::CodePage::kThread);
  *utf8 = platform::WideToUtf8(text);
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
  const agent_registry::ValueRead imagePath =
      agent_registry::ReadValue(agent_registry::kServiceKey, L"ImagePath");
  if (imagePath.openError == 0) {
    StoreText(imagePath.text, &AgentLocation.imagePath,
              &AgentLocation.imagePathText);
    if (imagePath.text.empty()) {
      events::Report(events::kAgentImagePathEmpty,
                     {agent_registry::kServiceKeyText});
    }
  } else {
    platform::WriteStdout("quenam RegOpen Error.\n", platform::Encoding::kAnsi);
    events::Report(events::kAgentKeyMissing, {agent_registry::kServiceKeyText});
  }
  // The stream is never switched to wide output.
  platform::WriteStdout(
      "quenlink path : " +
          platform::WideToAnsi(imagePath.text, platform::CodePage::kThread) +
          "\n\n",
      platform::Encoding::kAnsi);
  std::fflush(stdout);

  const agent_registry::ValueRead configPath =
      agent_registry::ReadValue(agent_registry::kProductKey, L"configPath");
  if (configPath.openError == 0) {
    StoreText(configPath.text, &AgentLocation.configDirectory,
              &AgentLocation.configDirectoryText);
  }
  startToReport = true;
}

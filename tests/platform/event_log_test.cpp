// The real Event Log calls and the message DLL: the source's key as the Event
// Log reads it, and every event the program writes rendered from the DLL as
// an Event Viewer would.
#include "platform/event_log.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "events/events.h"

namespace {

constexpr wchar_t kSource[] = L"didurozir-test";
constexpr wchar_t kKey[] =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\"
    L"didurozir-test";

// The value's type and data; type 0 when it can't be read.
std::pair<DWORD, std::vector<BYTE>> ReadValue(const wchar_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return {0, {}};
  }
  DWORD type = 0;
  std::vector<BYTE> data(1024);
  DWORD size = static_cast<DWORD>(data.size());
  const LONG result =
      RegQueryValueExW(key, name, nullptr, &type, data.data(), &size);
  RegCloseKey(key);
  if (result != ERROR_SUCCESS) return {0, {}};
  data.resize(size);
  return {type, data};
}

TEST(EventLog, TheSourceKeyComesAndGoes) {
  const std::wstring file =
      L"C:\\Program Files\\QUENTAR\\didurozir-messages.dll";
  ASSERT_EQ(platform::RegisterEventLogSource(kSource, file), 0u);
  // A second registration updates it in place.
  ASSERT_EQ(platform::RegisterEventLogSource(kSource, file), 0u);

  const auto messageFile = ReadValue(L"EventMessageFile");
  EXPECT_EQ(messageFile.first, static_cast<DWORD>(REG_EXPAND_SZ));
  EXPECT_EQ(
      std::wstring(reinterpret_cast<const wchar_t*>(messageFile.second.data())),
      file);
  const auto types = ReadValue(L"TypesSupported");
  ASSERT_EQ(types.first, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(*reinterpret_cast<const DWORD*>(types.second.data()), 7u);

  EXPECT_EQ(platform::RemoveEventLogSource(kSource), 0u);
  EXPECT_EQ(ReadValue(L"TypesSupported").first, 0u);
  EXPECT_EQ(platform::RemoveEventLogSource(kSource), 0u) << "already gone";
}

TEST(EventLog, WritesAnEventWithItsInserts) {
  EXPECT_TRUE(platform::WriteEvent(
      kSource, platform::EventType::kWarning, events::kRecovery,
      {"a", std::string(40000, 'x'), "", "d", "e"}));
  EXPECT_TRUE(platform::WriteEvent(kSource, platform::EventType::kInformation,
                                   events::kStopReceived, {}));
}

// What reaches ReportEventW, for event_log_trace.sh, which reads it from
// Wine's traces (Wine keeps no Event Log): the ID as the event's ID with
// category 0 and the type of its level, an image name the ANSI code page may
// lack as its UTF-16, and an insert longer than 255 characters whole.
TEST(EventLogTrace, WritesEachLevelAndARecoveryOfAHolderWithANonAsciiName) {
  events::Report(events::kRecovery,
                 {"PID 344 (b\xC3\xA5r.exe, port 4045)",
                  std::string(255, 'a') + "<beyond 255 characters>", "0",
                  "C:\\Agent\\riduvuruz.exe -start", "9009"});
  events::Report(events::kAuditFindings, {"1", "findings"});
  events::Report(events::kStopReceived, {});
}

// Each event renders whole: its text, every insert in place, no %n left.
TEST(EventLog, EveryEventHasItsMessage) {
  const HMODULE messages =
      LoadLibraryExW(DIDUROZIR_MESSAGE_DLL, nullptr,
                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  ASSERT_NE(messages, nullptr) << GetLastError();
  for (std::size_t i = 0; i < events::kEventDefinitionCount; ++i) {
    const events::EventDefinition& event = events::kEventDefinitions[i];
    std::vector<std::wstring> inserts;
    std::vector<DWORD_PTR> arguments;
    for (std::size_t n = 1; n <= event.inserts; ++n) {
      inserts.push_back(L"<insert " + std::to_wstring(n) + L">");
    }
    for (const std::wstring& insert : inserts) {
      arguments.push_back(reinterpret_cast<DWORD_PTR>(insert.c_str()));
    }
    wchar_t* text = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
            FORMAT_MESSAGE_ARGUMENT_ARRAY,
        messages, event.id, 0, reinterpret_cast<wchar_t*>(&text), 0,
        arguments.empty() ? nullptr
                          : reinterpret_cast<va_list*>(arguments.data()));
    ASSERT_NE(length, 0u) << "no message for event " << event.id;
    const std::wstring rendered(text, length);
    LocalFree(text);
    for (const std::wstring& insert : inserts) {
      EXPECT_NE(rendered.find(insert), std::wstring::npos)
          << event.id << " lacks " << std::string(insert.begin(), insert.end());
    }
    EXPECT_EQ(rendered.find(L"%"), std::wstring::npos) << event.id;
  }
  FreeLibrary(messages);
}

}  // namespace

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "events/events.h"
#include "fakes/fake_event_log.h"
#include "fakes/fake_registry.h"
#include "monitor/monitor.h"

namespace {

const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
const wchar_t kProductKey[] = L"SOFTWARE\\QUENTAR\\Agent";

// A path of exactly `units` units, none of them NUL.
std::wstring PathOfLength(std::size_t units) {
  std::wstring path = L"C:\\";
  while (path.size() < units)
    path += static_cast<wchar_t>(L'a' + path.size() % 26);
  return path.substr(0, units);
}

std::string Narrow(const std::wstring& ascii) {
  return std::string(ascii.begin(), ascii.end());
}

class AgentLocationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::Registry().Reset();
    fakes::EventLog().Reset();
    events::ResetRecord();
    AgentLocation.imagePath = "earlier image";
    AgentLocation.configDirectory = "earlier config";
  }

  void TearDown() override {
    EXPECT_EQ(fakes::Registry().opened, fakes::Registry().closed);
  }

  std::string Load() {
    ::testing::internal::CaptureStdout();
    LoadAgentLocation();
    return ::testing::internal::GetCapturedStdout();
  }

  void SetValue(const wchar_t* key, const wchar_t* name,
                const std::wstring& data) {
    fakes::Registry().keys[key][name] = data;
  }
};

TEST_F(AgentLocationTest, ReadsBothValuesAndPrintsThePath) {
  SetValue(kServiceKey, L"ImagePath", L"C:\\Agent\\riduvuruz.exe");
  SetValue(kProductKey, L"configPath", L"C:\\Agent\\conf");

  EXPECT_EQ(Load(), "quenlink path : C:\\Agent\\riduvuruz.exe\n\n");

  EXPECT_EQ(AgentLocation.imagePath, "C:\\Agent\\riduvuruz.exe");
  EXPECT_EQ(AgentLocation.configDirectory, "C:\\Agent\\conf");
  EXPECT_EQ(fakes::Registry().openedPaths,
            (std::vector<std::wstring>{kServiceKey, kProductKey}));
  EXPECT_EQ(fakes::Registry().offeredUnits,
            (std::vector<std::size_t>{260, 260}));
}

TEST_F(AgentLocationTest, MissingServiceKeyIsReportedAndKeepsTheImagePath) {
  SetValue(kProductKey, L"configPath", L"C:\\Agent\\conf");

  EXPECT_EQ(Load(), "quenam RegOpen Error.\nquenlink path : \n\n");

  EXPECT_EQ(AgentLocation.imagePath, "earlier image");
  EXPECT_EQ(AgentLocation.configDirectory, "C:\\Agent\\conf");
}

TEST_F(AgentLocationTest, MissingProductKeyIsSilentAndKeepsTheDirectory) {
  SetValue(kServiceKey, L"ImagePath", L"C:\\Agent\\riduvuruz.exe");

  EXPECT_EQ(Load(), "quenlink path : C:\\Agent\\riduvuruz.exe\n\n");

  EXPECT_EQ(AgentLocation.configDirectory, "earlier config");
}

TEST_F(AgentLocationTest, KeysWithoutTheirValuesGiveEmptyTexts) {
  fakes::Registry().keys[kServiceKey];
  fakes::Registry().keys[kProductKey];

  EXPECT_EQ(Load(), "quenlink path : \n\n");

  EXPECT_EQ(AgentLocation.imagePath, "");
  EXPECT_EQ(AgentLocation.configDirectory, "");
}

TEST_F(AgentLocationTest, ValueTextDependsOnItsLength) {
  const struct {
    std::wstring data;
    std::wstring text;
  } cases[] = {
      {PathOfLength(259) + L'\0', PathOfLength(259)},
      {PathOfLength(259), PathOfLength(259)},
      {PathOfLength(260), PathOfLength(260)},  // fills the buffer, no NUL
      {PathOfLength(261), L""},
      {PathOfLength(300), L""},
      {std::wstring(L"C:\\a.exe\0C:\\b.exe", 17), L"C:\\a.exe"},
      {std::wstring(L"\0C:\\a.exe", 9), L""},
      {L"", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.data.size());
    SetUp();
    SetValue(kServiceKey, L"ImagePath", c.data);
    SetValue(kProductKey, L"configPath", c.data);

    EXPECT_EQ(Load(), "quenlink path : " + Narrow(c.text) + "\n\n");

    EXPECT_EQ(AgentLocation.imagePath, Narrow(c.text));
    EXPECT_EQ(AgentLocation.configDirectory, Narrow(c.text));
  }
}

TEST_F(AgentLocationTest, ConfigPathLongerThanImagePathIsReadWhole) {
  SetValue(kServiceKey, L"ImagePath", L"C:\\a.exe");
  SetValue(kProductKey, L"configPath", PathOfLength(250));

  Load();

  EXPECT_EQ(AgentLocation.configDirectory, Narrow(PathOfLength(250)));
}

TEST_F(AgentLocationTest, TextIsConvertedToTheAnsiCodePage) {
  SetValue(kServiceKey, L"ImagePath", L"C:\\Agent\u00e9\u4e2d\\r.exe");
  SetValue(kProductKey, L"configPath", L"C:\\Konfig\u00fc");

  // The emulated code page has ASCII only.
  EXPECT_EQ(Load(), "quenlink path : C:\\Agent??\\r.exe\n\n");

  EXPECT_EQ(AgentLocation.imagePath, "C:\\Agent??\\r.exe");
  EXPECT_EQ(AgentLocation.configDirectory, "C:\\Konfig?");
}

TEST_F(AgentLocationTest, PathIsPrintedLiterally) {
  SetValue(kServiceKey, L"ImagePath", L"C:\\100%s\\%n%d.exe");

  EXPECT_EQ(Load(), "quenlink path : C:\\100%s\\%n%d.exe\n\n");
}

// The start is recorded with what was read; an agent that can't be found is
// an error before it.
TEST_F(AgentLocationTest, RecordsTheStartAndAnAgentThatCantBeFound) {
  using Ids = std::vector<std::uint32_t>;
  const std::string key =
      "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
  const struct {
    const char* what;
    bool serviceKey;
    const wchar_t* imagePath;  // null: no value
    Ids ids;
  } cases[] = {
      {"found", true, L"C:\\A\\riduvuruz.exe", {events::kServiceStarted}},
      {"no key",
       false,
       nullptr,
       {events::kAgentKeyMissing, events::kServiceStarted}},
      {"no path",
       true,
       nullptr,
       {events::kAgentImagePathEmpty, events::kServiceStarted}},
      {"empty path",
       true,
       L"",
       {events::kAgentImagePathEmpty, events::kServiceStarted}},
  };
  for (const auto& c : cases) {
    SetUp();
    AgentLocation.imagePath.clear();
    AgentLocation.configDirectory.clear();
    if (c.serviceKey) fakes::Registry().keys[kServiceKey];
    if (c.imagePath != nullptr)
      SetValue(kServiceKey, L"ImagePath", c.imagePath);
    Load();
    const auto& log = fakes::EventLog().events;
    ASSERT_EQ(fakes::EventLog().Ids(), c.ids) << c.what;
    if (c.ids.size() == 2) {
      EXPECT_EQ(log[0].type, platform::EventType::kError) << c.what;
      EXPECT_EQ(log[0].inserts, std::vector<std::string>{key}) << c.what;
    }
    EXPECT_EQ(log.back().inserts,
              (std::vector<std::string>{
                  AgentLocation.imagePath, "",
                  "36039, 36523, 4033, 4044, 4045, 4046, 4523, 4524, 4525, "
                  "4526"}))
        << c.what;
  }
}
}  // namespace

#include <gtest/gtest.h>
#include <unistd.h>

#include <boost/filesystem/operations.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "events/events.h"
#include "fakes/fake_event_log.h"
#include "fakes/fake_file.h"
#include "fakes/fake_registry.h"
#include "monitor/monitor.h"
#include "platform/file.h"

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
  // The record gets them whole, in UTF-8 straight from the registry's text.
  EXPECT_EQ(AgentLocation.imagePathText,
            "C:\\Agent\xC3\xA9\xE4\xB8\xAD\\r.exe");
  EXPECT_EQ(AgentLocation.configDirectoryText, "C:\\Konfig\xC3\xBC");
}

TEST_F(AgentLocationTest, PathIsPrintedLiterally) {
  SetValue(kServiceKey, L"ImagePath", L"C:\\100%s\\%n%d.exe");

  EXPECT_EQ(Load(), "quenlink path : C:\\100%s\\%n%d.exe\n\n");
}

// An agent that can't be found is an error at once; the start itself (1000)
// is left to the monitor's first cycle and written once, with what was read.
TEST_F(AgentLocationTest, RecordsAnAgentThatCantBeFoundAndLeavesTheStart) {
  using Ids = std::vector<std::uint32_t>;
  const std::string key =
      "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
  const struct {
    const char* what;
    bool serviceKey;
    const wchar_t* imagePath;  // null: no value
    Ids ids;                   // written by LoadAgentLocation
    std::string imagePathText;
  } cases[] = {
      {"found", true, L"C:\\A\\riduvuruz.exe", {}, "C:\\A\\riduvuruz.exe"},
      {"no key", false, nullptr, {events::kAgentKeyMissing}, ""},
      {"no path", true, nullptr, {events::kAgentImagePathEmpty}, ""},
      {"empty path", true, L"", {events::kAgentImagePathEmpty}, ""},
  };
  for (const auto& c : cases) {
    SetUp();
    AgentLocation = AgentLocationRecord();
    if (c.serviceKey) fakes::Registry().keys[kServiceKey];
    if (c.imagePath != nullptr)
      SetValue(kServiceKey, L"ImagePath", c.imagePath);
    Load();
    const auto& log = fakes::EventLog().events;
    ASSERT_EQ(fakes::EventLog().Ids(), c.ids) << c.what;
    if (!c.ids.empty()) {
      EXPECT_EQ(log[0].type, platform::EventType::kError) << c.what;
      EXPECT_EQ(log[0].inserts, std::vector<std::string>{key}) << c.what;
    }

    ReportStartOnce();
    ReportStartOnce();

    Ids withStart = c.ids;
    withStart.push_back(events::kServiceStarted);
    ASSERT_EQ(fakes::EventLog().Ids(), withStart) << c.what;
    EXPECT_EQ(log.back().type, platform::EventType::kInformation);
    EXPECT_EQ(log.back().inserts,
              (std::vector<std::string>{
                  c.imagePathText, "",
                  "36039, 36523, 4033, 4044, 4045, 4046, 4523, 4524, 4525, "
                  "4526"}))
        << c.what;
  }
}

// The service reports itself running right after LoadAgentLocation: nothing
// but the registry may be read before, so server.conf (on a share that may
// not answer, or huge) waits for the start's event.
TEST_F(AgentLocationTest, ReadsNoFileUntilTheStartIsRecorded) {
  const std::string directory = ::testing::TempDir() + "agent_location_conf";
  const std::string path = directory + platform::kPathSeparator + "server.conf";
  ASSERT_TRUE(boost::filesystem::create_directories(directory) ||
              boost::filesystem::is_directory(directory));
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("{\"ssl_port\": 4903}", file);
  std::fclose(file);
  fakes::File().Reset();
  SetValue(kServiceKey, L"ImagePath", L"C:\\Agent\\riduvuruz.exe");
  SetValue(kProductKey, L"configPath",
           std::wstring(directory.begin(), directory.end()));

  Load();

  EXPECT_TRUE(fakes::File().opened.empty());
  EXPECT_TRUE(fakes::EventLog().events.empty());

  ReportStartOnce();
  boost::filesystem::remove_all(directory);

  EXPECT_EQ(fakes::File().opened, std::vector<std::string>{path});
  ASSERT_EQ(fakes::EventLog().Ids(),
            std::vector<std::uint32_t>{events::kServiceStarted});
  EXPECT_EQ(fakes::EventLog().events[0].inserts,
            (std::vector<std::string>{
                "C:\\Agent\\riduvuruz.exe", directory,
                "36039, 36523, 4033, 4044, 4045, 4046, 4523, 4524, 4525, "
                "4526, 4903"}));
}

// Output redirected to a file or pipe is buffered: the path's line must be
// flushed before anything else (a command the recovery runs, writing to the
// same handle) reaches it.
TEST_F(AgentLocationTest, ThePathLineReachesRedirectedOutputFirst) {
  SetValue(kServiceKey, L"ImagePath", L"C:\\Agent\\riduvuruz.exe");
  ::testing::internal::CaptureStdout();
  LoadAgentLocation();
  // Straight to the descriptor, past the stream's buffer, as a child would.
  const char after[] = "after\n";
  ASSERT_EQ(::write(STDOUT_FILENO, after, sizeof after - 1),
            static_cast<ssize_t>(sizeof after - 1));
  EXPECT_EQ(::testing::internal::GetCapturedStdout(),
            "quenlink path : C:\\Agent\\riduvuruz.exe\n\nafter\n");
}

}  // namespace

#include <cctype>
#include <cwchar>
#include <ostream>
#include <string>

#include "service_fixture.h"

namespace {

struct PathCase {
  const char* what;
  std::wstring modulePath;
  std::wstring binaryPathName;
  std::wstring moduleDirectory;
  std::wstring baseName;
};

std::wstring LongPath(std::size_t length, bool withSpace) {
  std::wstring path = withSpace ? L"C:\\Program Files\\" : L"C:\\Programs\\";
  const std::wstring file = L"\\didurozir.exe";
  path.append(length - path.size() - file.size(), L'd');
  return path + file;
}

// Failures name the case rather than dump its bytes.
void PrintTo(const PathCase& c, std::ostream* out) { *out << c.what; }

class SettingsTest : public ServiceFixture,
                     public ::testing::WithParamInterface<PathCase> {};

TEST_P(SettingsTest, DerivesPathsAndNamesFromTheExecutable) {
  const PathCase& c = GetParam();
  system().moduleFileName = c.modulePath;
  settingsInitialized = 0;
  const CServiceManager manager;

  EXPECT_EQ(settingsInitialized, 1u);
  EXPECT_EQ(std::wstring(ServiceSettings.binaryPathName), c.binaryPathName);
  EXPECT_EQ(std::wstring(ServiceSettings.moduleDirectory), c.moduleDirectory);
  EXPECT_EQ(std::wstring(ServiceSettings.serviceName), c.baseName);
  EXPECT_EQ(std::wstring(ServiceSettings.displayName), c.baseName);
  EXPECT_EQ(ServiceSettings.description[0], L'\0');
}

const std::wstring kLongWithSpace = LongPath(300, true);
const std::wstring kLongestWithSpace = LongPath(kPathCapacity - 1, true);
const std::wstring kLongestBare = LongPath(kPathCapacity - 1, false);
const std::wstring kTooLong = LongPath(kPathCapacity + 5, true);

INSTANTIATE_TEST_SUITE_P(
    ModulePaths, SettingsTest,
    ::testing::Values(
        PathCase{"plain", L"C:\\QUENTAR\\didurozir.exe",
                 L"C:\\QUENTAR\\didurozir.exe", L"C:\\QUENTAR", L"didurozir"},
        PathCase{"one space", L"C:\\Program Files\\didurozir.exe",
                 L"\"C:\\Program Files\\didurozir.exe\"", L"C:\\Program Files",
                 L"didurozir"},
        PathCase{"several spaces", L"C:\\a b\\c  d\\e f.exe",
                 L"\"C:\\a b\\c  d\\e f.exe\"", L"C:\\a b\\c  d", L"e f"},
        PathCase{"only the space quotes", L"C:\\x&y\\(1)\\w;v.exe",
                 L"C:\\x&y\\(1)\\w;v.exe", L"C:\\x&y\\(1)", L"w;v"},
        PathCase{"several full stops", L"C:\\tools\\setup.old.exe",
                 L"C:\\tools\\setup.old.exe", L"C:\\tools", L"setup.old"},
        PathCase{"no full stop", L"C:\\tools\\watchdog", L"C:\\tools\\watchdog",
                 L"C:\\tools", L"watchdog"},
        PathCase{"full stop in the folder only", L"C:\\v1.2\\watchdog",
                 L"C:\\v1.2\\watchdog", L"C:\\v1.2", L"watchdog"},
        PathCase{"no backslash", L"didurozir.exe", L"didurozir.exe", L"",
                 L"didurozir"},
        PathCase{"in a drive's root", L"C:\\didurozir.exe",
                 L"C:\\didurozir.exe", L"C:", L"didurozir"},
        PathCase{"unknown path", L"", L"", L"", L""},
        PathCase{"long, with a space", kLongWithSpace,
                 L"\"" + kLongWithSpace + L"\"",
                 kLongWithSpace.substr(0, kLongWithSpace.rfind(L'\\')),
                 L"didurozir"},
        PathCase{"longest, with a space", kLongestWithSpace,
                 L"\"" + kLongestWithSpace + L"\"",
                 kLongestWithSpace.substr(0, kLongestWithSpace.rfind(L'\\')),
                 L"didurozir"},
        PathCase{"longest, bare", kLongestBare, kLongestBare,
                 kLongestBare.substr(0, kLongestBare.rfind(L'\\')),
                 L"didurozir"},
        // No real path is this long; what matters is that none is cut.
        PathCase{"longer than any path", kTooLong, L"",
                 kTooLong.substr(0, kTooLong.rfind(L'\\')), L"didurozir"}),
    [](const ::testing::TestParamInfo<PathCase>& info) {
      std::string name;
      for (const char* p = info.param.what; *p != '\0'; ++p) {
        name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
      }
      return name;
    });

using SettingsInitTest = ServiceFixture;

TEST_F(SettingsInitTest, FillsTheRegistrationDefaults) {
  EXPECT_EQ(ServiceSettings.desiredAccess, 0xF01FFu);
  EXPECT_EQ(ServiceSettings.serviceType, 16u);
  EXPECT_EQ(ServiceSettings.startType, 2u);
  EXPECT_EQ(ServiceSettings.errorControl, 1u);
  EXPECT_EQ(ServiceSettings.runMode, kRunModeNone);
  EXPECT_EQ(ServiceSettings.controlsAccepted.load(), 0u);
  EXPECT_EQ(ServiceSettings.statusHandle.load(), nullptr);
  EXPECT_EQ(ServiceSettings.loadOrderGroup[0], L'\0');
  EXPECT_EQ(ServiceSettings.dependencies[0], L'\0');
  EXPECT_EQ(ServiceSettings.dependencies[1], L'\0');
  EXPECT_EQ(ServiceSettings.serviceStartName[0], L'\0');
  EXPECT_EQ(ServiceSettings.password[0], L'\0');
  EXPECT_EQ(ServiceSettings.failureActions.actions, nullptr);
  EXPECT_EQ(ServiceSettings.failureActions.actionCount, 0u);
}

TEST_F(SettingsInitTest, LaterConstructionsChangeNothing) {
  SetSettingText(ServiceSettings.displayName, L"QUENTAR Agent Monitor");
  SetSettingText(ServiceSettings.description, L"QUENTAR Agent Monitor");
  ServiceSettings.runMode = kRunModeStop;
  ServiceSettings.controlsAccepted = 3;
  system().moduleFileName = L"C:\\elsewhere\\other name.exe";

  const CServiceManager second;
  const CServiceManager third;

  EXPECT_EQ(std::wstring(ServiceSettings.serviceName), L"didurozir");
  EXPECT_EQ(std::wstring(ServiceSettings.displayName),
            L"QUENTAR Agent Monitor");
  EXPECT_EQ(std::wstring(ServiceSettings.description),
            L"QUENTAR Agent Monitor");
  EXPECT_EQ(std::wstring(ServiceSettings.binaryPathName),
            L"C:\\QUENTAR\\didurozir.exe");
  EXPECT_EQ(ServiceSettings.runMode, kRunModeStop);
  EXPECT_EQ(ServiceSettings.controlsAccepted.load(), 3u);
}

TEST_F(SettingsInitTest, FillingAnewClearsWhatWasThere) {
  SetSettingText(ServiceSettings.description, L"old");
  ServiceSettings.controlsAccepted = 3;
  settingsInitialized = 0;
  const CServiceManager manager;
  EXPECT_EQ(ServiceSettings.description[0], L'\0');
  EXPECT_EQ(ServiceSettings.controlsAccepted.load(), 0u);
  EXPECT_EQ(std::wstring(ServiceSettings.serviceName), L"didurozir");
}

TEST_F(SettingsInitTest, AnOverlongFileNameIsCutForTheDefaultNames) {
  system().moduleFileName = L"C:\\" + std::wstring(400, L'n') + L".exe";
  settingsInitialized = 0;
  const CServiceManager manager;
  EXPECT_EQ(std::wstring(ServiceSettings.serviceName),
            std::wstring(kNameCapacity - 1, L'n'));
  EXPECT_EQ(std::wcslen(ServiceSettings.binaryPathName), 407u);
}

}  // namespace

#include <algorithm>
#include <cctype>
#include <cwchar>
#include <iterator>
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

std::wstring DirectoryOf(const std::wstring& path) {
  return path.substr(0, path.rfind(L'\\'));
}
// The quotes count: "longest, with a space" fills all but the terminator of
// the binary path's field.
const std::wstring kFieldLongQuoted = LongPath(kBinaryPathCapacity - 2, true);
const std::wstring kOneShortBare = LongPath(kBinaryPathCapacity - 1, false);
const std::wstring kFieldLongBare = LongPath(kBinaryPathCapacity, false);
// "\\didurozir.exe" follows the folder.
const std::wstring kFolderOneShort = LongPath(kPathCapacity - 1 + 14, false);
const std::wstring kFolderFieldLong = LongPath(kPathCapacity + 14, false);

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
                 kTooLong.substr(0, kTooLong.rfind(L'\\')), L"didurozir"},
        // A text as long as its field leaves no room for the terminator: it
        // is left out; one unit shorter, it is kept whole.
        PathCase{"quoted, as long as its field", kFieldLongQuoted, L"",
                 DirectoryOf(kFieldLongQuoted), L"didurozir"},
        PathCase{"bare, one short of its field", kOneShortBare, kOneShortBare,
                 DirectoryOf(kOneShortBare), L"didurozir"},
        PathCase{"bare, as long as its field", kFieldLongBare, L"",
                 DirectoryOf(kFieldLongBare), L"didurozir"},
        PathCase{"folder one short of its field", kFolderOneShort, L"",
                 DirectoryOf(kFolderOneShort), L"didurozir"},
        PathCase{"folder as long as its field", kFolderFieldLong, L"", L"",
                 L"didurozir"}),
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

// A text cut to fit its field ends before a pair's high half rather than
// between the halves; the field is always terminated and nothing is written
// past it.
struct CutCase {
  const char* what;
  std::size_t capacity;
  std::wstring text;
  std::wstring stored;
};

void PrintTo(const CutCase& c, std::ostream* out) { *out << c.what; }

class SettingTextTest : public ::testing::TestWithParam<CutCase> {};

const std::wstring kPair = L"\xD83D\xDE00";  // U+1F600 in UTF-16

TEST_P(SettingTextTest, CutsOnlyBetweenCharacters) {
  const CutCase& c = GetParam();
  wchar_t field[8];
  std::fill(std::begin(field), std::end(field), L'#');
  SetSettingText(field, c.capacity, c.text);
  EXPECT_EQ(std::wstring(field), c.stored);
  for (std::size_t i = c.capacity; i < 8; ++i) {
    EXPECT_EQ(field[i], L'#') << "written past the field at " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, SettingTextTest,
    ::testing::Values(
        CutCase{"fits", 5, L"abcd", L"abcd"},
        CutCase{"one too long", 5, L"abcde", L"abcd"},
        CutCase{"a pair that fits exactly", 5, L"ab" + kPair, L"ab" + kPair},
        CutCase{"cut inside a pair", 5, L"abc" + kPair, L"abc"},
        CutCase{"cut after a pair", 5, L"ab" + kPair + L"c", L"ab" + kPair},
        CutCase{"cut inside the second pair", 5, L"a" + kPair + kPair,
                L"a" + kPair},
        CutCase{"room for the terminator only", 1, L"x", L""},
        CutCase{"room for half a pair only", 2, kPair, L""}));

// The same through a settings field of its real size.
TEST(SettingTextFieldTest, AServiceNameCutAtAPairKeepsNoHalf) {
  wchar_t name[kNameCapacity];
  SetSettingText(name, std::wstring(kNameCapacity - 2, L'n') + kPair);
  EXPECT_EQ(std::wstring(name), std::wstring(kNameCapacity - 2, L'n'));
  SetSettingText(name, std::wstring(kNameCapacity - 3, L'n') + kPair);
  EXPECT_EQ(std::wstring(name), std::wstring(kNameCapacity - 3, L'n') + kPair);
}

}  // namespace

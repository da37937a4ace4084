// Registry reads against values written into the machine registry (under
// Wine), each test under a key of its own that it removes afterwards.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace {

const wchar_t kTestsKey[] = L"SOFTWARE\\didurozir-tests";

std::wstring Units(std::size_t count) {
  std::wstring text;
  for (std::size_t i = 0; i < count; ++i) {
    text += static_cast<wchar_t>(L'a' + i % 26);
  }
  return text;
}

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = std::wstring(kTestsKey) + L"\\registry-" +
            std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path_.c_str(), 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }

  void TearDown() override {
    RegCloseKey(key_);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, path_.c_str());
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kTestsKey);  // only when empty
  }

  void Set(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    ASSERT_EQ(RegSetValueExW(key_, name, 0, type,
                             static_cast<const BYTE*>(data), bytes),
              ERROR_SUCCESS);
  }

  // Stores exactly `units`. The system counts a terminator the caller left
  // out when a NUL follows the data, so a non-NUL unit follows it here.
  void SetText(const wchar_t* name, const std::wstring& units,
               DWORD type = REG_SZ) {
    const std::wstring padded = units + L'#';
    Set(name, type, padded.data(),
        static_cast<DWORD>(units.size() * sizeof(wchar_t)));
  }

  // Reads `name` offering 260 units; the text up to the first NUL, or
  // "(failed)". A unit past the offered ones must stay untouched.
  std::wstring Read(const wchar_t* name) {
    const platform::ScopedRegistryKey key(
        platform::OpenMachineKey(path_.c_str()));
    EXPECT_TRUE(key.IsValid());
    wchar_t buffer[261] = {};
    buffer[260] = L'#';
    const bool read = platform::ReadKeyValue(key.Get(), name, buffer, 260);
    EXPECT_EQ(buffer[260], L'#');
    if (!read) return L"(failed)";
    return std::wstring(buffer, std::find(buffer, buffer + 260, L'\0'));
  }

  std::wstring path_;
  HKEY key_ = nullptr;
};

TEST_F(RegistryTest, StringValuesAreReadWholeWhenTheyFit) {
  const struct {
    std::wstring stored;
    std::wstring read;
  } cases[] = {
      {Units(259) + L'\0', Units(259)},
      {Units(260), Units(260)},  // fills the buffer without a NUL
      {Units(260) + L'\0', L"(failed)"},
      {Units(300), L"(failed)"},
      {Units(300) + L'\0', L"(failed)"},
      {std::wstring(L"C:\\a.exe\0C:\\b.exe", 18), L"C:\\a.exe"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.stored.size());
    SetText(L"ImagePath", c.stored);
    EXPECT_EQ(Read(L"ImagePath"), c.read);
  }
}

TEST_F(RegistryTest, ValuesOfOtherTypesAreTakenAsRawText) {
  const unsigned char binary[] = {'a', 0, 'b', 0, 0, 0, 'c', 0};
  Set(L"binary", REG_BINARY, binary, sizeof(binary));
  const DWORD dword = 0x00420041;  // the units 'A', 'B' in memory order
  Set(L"dword", REG_DWORD, &dword, sizeof(dword));
  SetText(L"expand", std::wstring(L"%SystemRoot%\\a.exe") + L'\0',
          REG_EXPAND_SZ);

  EXPECT_EQ(Read(L"binary"), L"ab");
  EXPECT_EQ(Read(L"dword"), L"AB");
  EXPECT_EQ(Read(L"expand"), L"%SystemRoot%\\a.exe");
}

TEST_F(RegistryTest, MissingValueFails) {
  EXPECT_EQ(Read(L"ImagePath"), L"(failed)");
}

TEST_F(RegistryTest, MissingKeyDoesNotOpen) {
  const std::wstring missing = path_ + L"\\missing";
  EXPECT_EQ(platform::OpenMachineKey(missing.c_str()), nullptr);
}

// The code -check reports: 0 opened, 2 missing, 5 denied (a key whose
// DACL denies reading to Everyone).
TEST_F(RegistryTest, AFailedOpenTellsTheSystemsCode) {
  std::uint32_t error = 99;
  platform::ScopedRegistryKey opened(
      platform::OpenMachineKey(path_.c_str(), &error));
  EXPECT_TRUE(opened.IsValid());
  EXPECT_EQ(error, 0u);

  const std::wstring missing = path_ + L"\\missing";
  EXPECT_EQ(platform::OpenMachineKey(missing.c_str(), &error), nullptr);
  EXPECT_EQ(error, 2u);

  const std::wstring denied = path_ + L"\\denied";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, denied.c_str(), 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  // The handle keeps its access: it gives the key back its DACL afterwards,
  // so that TearDown can delete it.
  const auto setDacl = [key](const wchar_t* sddl) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        sddl, SDDL_REVISION_1, &descriptor, nullptr));
    EXPECT_EQ(RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor),
              ERROR_SUCCESS);
    LocalFree(descriptor);
  };
  setDacl(L"D:P(D;;KR;;;WD)(A;;KA;;;WD)");
  EXPECT_EQ(platform::OpenMachineKey(denied.c_str(), &error), nullptr);
  EXPECT_EQ(error, 5u);
  setDacl(L"D:P(A;;KA;;;WD)");
  RegCloseKey(key);
}

TEST_F(RegistryTest, KeysAreClosedOnEveryPath) {
  DWORD before = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &before));
  for (int i = 0; i < 20; ++i) {
    platform::ScopedRegistryKey key(platform::OpenMachineKey(path_.c_str()));
    platform::ScopedRegistryKey moved(std::move(key));
    EXPECT_TRUE(moved.IsValid());
    EXPECT_FALSE(key.IsValid());
  }
  DWORD after = 0;
  ASSERT_TRUE(GetProcessHandleCount(GetCurrentProcess(), &after));
  EXPECT_EQ(after, before);
}

}  // namespace

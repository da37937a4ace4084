// The monitor against the real registry and process list (under Wine).
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "handle_count.h"
#include "monitor/monitor.h"

namespace {

const wchar_t kServiceKey[] = L"SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
const wchar_t kProductKey[] = L"SOFTWARE\\QUENTAR\\Agent";

bool KeyExists(const wchar_t* path) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return true;
}

void WriteText(const wchar_t* path, const wchar_t* name,
               const std::wstring& text, DWORD type) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path, 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(RegSetValueExW(
                key, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
  RegCloseKey(key);
}

class AgentRegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (KeyExists(kServiceKey) || KeyExists(kProductKey)) {
      GTEST_SKIP() << "the agent's keys exist in this registry already";
    }
    AgentLocation = AgentLocationRecord();
  }

  void TearDown() override {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kServiceKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kServiceKey);
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kProductKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, kProductKey);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QUENTAR");
  }

  static std::string Load() {
    ::testing::internal::CaptureStdout();
    LoadAgentLocation();
    return ::testing::internal::GetCapturedStdout();
  }
};

TEST_F(AgentRegistryTest, ReadsTheAgentsLocation) {
  const std::wstring config(200, L'c');
  WriteText(kServiceKey, L"ImagePath", L"C:\\Agent\\riduvuruz.exe",
            REG_EXPAND_SZ);
  WriteText(kProductKey, L"configPath", L"C:\\" + config, REG_SZ);

  EXPECT_EQ(Load(), "quenlink path : C:\\Agent\\riduvuruz.exe\n\n");

  EXPECT_EQ(AgentLocation.imagePath, "C:\\Agent\\riduvuruz.exe");
  EXPECT_EQ(AgentLocation.configDirectory, "C:\\" + std::string(200, 'c'));
}

TEST_F(AgentRegistryTest, MissingServiceKeyIsReported) {
  AgentLocation.imagePath = "earlier";

  EXPECT_EQ(Load(), "quenam RegOpen Error.\nquenlink path : \n\n");

  EXPECT_EQ(AgentLocation.imagePath, "earlier");
  EXPECT_EQ(AgentLocation.configDirectory, "");
}

TEST_F(AgentRegistryTest, CharactersOutsideTheCodePageBecomeItsDefault) {
  WriteText(kServiceKey, L"ImagePath", L"C:\\\u4e2d\u6587\\riduvuruz.exe",
            REG_SZ);

  Load();

  EXPECT_EQ(AgentLocation.imagePath, "C:\\??\\riduvuruz.exe");
}

std::wstring OwnImageName() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path);
  return full.substr(full.find_last_of(L"\\/") + 1);
}

TEST(IsImageRunning, FindsThisProcessOnlyUnderItsExactName) {
  std::wstring upper = OwnImageName();
  CharUpperW(&upper[0]);
  ASSERT_NE(upper, OwnImageName());

  EXPECT_TRUE(IsImageRunning(OwnImageName()));
  EXPECT_FALSE(IsImageRunning(upper));
  EXPECT_FALSE(IsImageRunning(OwnImageName() + L" "));
  EXPECT_FALSE(IsImageRunning(L"riduvuruz.exe"));
}

// One cycle's look for the agent, many times over: the snapshot it takes is
// closed every time. Counted in the system's handle table, since
// GetProcessHandleCount answers 0 under Wine.
TEST(IsImageRunning, LeavesNoHandleOpen) {
  IsImageRunning(L"riduvuruz.exe");  // whatever the first call sets up
  const long before = testing_handles::OwnHandleCount();
  ASSERT_GT(before, 0);
  for (int i = 0; i < 200; ++i) {
    IsImageRunning(L"riduvuruz.exe");
    IsImageRunning(OwnImageName());
  }
  EXPECT_EQ(testing_handles::OwnHandleCount(), before);
}

}  // namespace

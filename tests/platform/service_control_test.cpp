// The service operations against Wine's (or Windows') own Service Control
// Manager, on a fixture service installed under a name of the test's own.
#include "platform/service_control.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "platform/process_list.h"
#include "platform/service_runtime.h"
#include "platform/system.h"
#include "service/service.h"

namespace {

constexpr std::uint32_t kDoesNotExist = 1060;
constexpr std::uint32_t kServiceExists = 1073;

// Fills the settings as for this test program, then points them at the
// fixture service, which lies in a folder with a space in its name.
class RealServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    settingsInitialized = 0;
    const CServiceManager manager;
    // Process ids come round again; the tick count keeps a service that a
    // failed run left behind out of the way.
    const std::wstring name =
        L"didurozir_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
        std::to_wstring(GetTickCount()) + L"_" +
        Wide(::testing::UnitTest::GetInstance()->current_test_info()->name());
    SetSettingText(ServiceSettings.serviceName, name.c_str());
    // Display names must be unique too.
    SetSettingText(ServiceSettings.displayName, name.c_str());
    SetSettingText(ServiceSettings.description, L"Installed by a test");
    fixturePath_ = std::wstring(ServiceSettings.moduleDirectory) +
                   L"\\service fixture\\fixture_service.exe";
    const std::wstring quoted = L"\"" + fixturePath_ + L"\"";
    SetSettingText(ServiceSettings.binaryPathName, quoted.c_str());
  }

  void TearDown() override {
    // Whatever a failed test left behind: deleted even when it won't stop.
    if (UninstallService() == kWaitTimeout) {
      platform::ScopedScHandle manager(
          platform::OpenServiceManager(SC_MANAGER_ALL_ACCESS));
      platform::ScopedScHandle service(platform::OpenNamedService(
          manager.Get(), ServiceSettings.serviceName, SERVICE_ALL_ACCESS));
      if (service.IsValid()) platform::DeleteNamedService(service.Get());
    }
  }

  static std::wstring Wide(const char* text) {
    return std::wstring(text, text + std::strlen(text));
  }

  // The service's registration as the manager holds it.
  static std::wstring ConfiguredPath() {
    platform::ScopedScHandle manager(
        platform::OpenServiceManager(SC_MANAGER_ALL_ACCESS));
    platform::ScopedScHandle service(platform::OpenNamedService(
        manager.Get(), ServiceSettings.serviceName, SERVICE_ALL_ACCESS));
    if (!service.IsValid()) return L"";
    DWORD needed = 0;
    QueryServiceConfigW(reinterpret_cast<SC_HANDLE>(service.Get()), nullptr, 0,
                        &needed);
    std::string buffer(needed, '\0');
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(&buffer[0]);
    if (!QueryServiceConfigW(reinterpret_cast<SC_HANDLE>(service.Get()), config,
                             needed, &needed)) {
      return L"";
    }
    return config->lpBinaryPathName;
  }

  // The image name of process `pid`, or empty when none runs.
  static std::wstring ImageOf(std::uint32_t pid) {
    const platform::ScopedProcessSnapshot snapshot(
        platform::OpenProcessSnapshot());
    platform::ProcessEntry entry;
    for (bool more = platform::FirstProcess(snapshot.Get(), &entry); more;
         more = platform::NextProcess(snapshot.Get(), &entry)) {
      if (entry.pid == pid) return entry.imageName;
    }
    return L"";
  }

  static SERVICE_STATUS_PROCESS QueryStatus(platform::ScHandle service) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    EXPECT_TRUE(QueryServiceStatusEx(
        reinterpret_cast<SC_HANDLE>(service), SC_STATUS_PROCESS_INFO,
        reinterpret_cast<BYTE*>(&status), sizeof status, &needed))
        << GetLastError();
    return status;
  }

  std::wstring fixturePath_;
};

TEST_F(RealServiceTest, InstallsStartsStopsAndUninstalls) {
  ASSERT_EQ(InstallService(), 0u);
  EXPECT_EQ(ConfiguredPath(), L"\"" + fixturePath_ + L"\"");
  EXPECT_EQ(InstallService(), kServiceExists);
  EXPECT_EQ(QueryServiceState(), kServiceStopped);

  ASSERT_EQ(StartServiceAndWait(), 0u);
  EXPECT_EQ(QueryServiceState(), kServiceRunning);
  EXPECT_EQ(StartServiceAndWait(), 0u);  // running already

  ASSERT_EQ(StopServiceAndWait(), 0u);
  EXPECT_EQ(QueryServiceState(), kServiceStopped);
  EXPECT_EQ(StopServiceAndWait(), 0u);  // stopped already

  EXPECT_EQ(UninstallService(), 0u);
  EXPECT_EQ(QueryServiceState(), 0u);
  EXPECT_EQ(UninstallService(), kDoesNotExist);
}

TEST_F(RealServiceTest, UninstallStopsARunningServiceFirst) {
  ASSERT_EQ(InstallService(), 0u);
  ASSERT_EQ(StartServiceAndWait(), 0u);
  EXPECT_EQ(UninstallService(), 0u);
  EXPECT_EQ(QueryServiceState(), 0u);
}

// The package's registration against the real manager: its own registration,
// changed behind its back, is rewritten; another executable's is refused and
// kept, and the rollback's undo leaves it; the package's stop waits and
// leaves the service installed.
TEST_F(RealServiceTest, PackageOperationsKeepAnotherExecutablesRegistration) {
  ASSERT_EQ(PackageInstallService(), 0u);
  platform::ScopedScHandle manager(
      platform::OpenServiceManager(SC_MANAGER_ALL_ACCESS));
  platform::ScopedScHandle service(platform::OpenNamedService(
      manager.Get(), ServiceSettings.serviceName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service.IsValid());
  std::wstring path;
  ASSERT_TRUE(platform::QueryServiceBinaryPath(service.Get(), path));
  EXPECT_EQ(path, L"\"" + fixturePath_ + L"\"");

  const std::wstring other = L"C:\\elsewhere\\didurozir.exe";
  ASSERT_TRUE(ChangeServiceConfigW(
      reinterpret_cast<SC_HANDLE>(service.Get()), SERVICE_NO_CHANGE,
      SERVICE_DEMAND_START, SERVICE_NO_CHANGE, other.c_str(), nullptr, nullptr,
      nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(PackageInstallService(), kServiceExists);
  EXPECT_EQ(ConfiguredPath(), other);
  EXPECT_EQ(PackageUndoInstall(), 0u);
  EXPECT_EQ(ConfiguredPath(), other) << "another's registration stays";

  const std::wstring own = L"\"" + fixturePath_ + L"\"";
  ASSERT_TRUE(ChangeServiceConfigW(
      reinterpret_cast<SC_HANDLE>(service.Get()), SERVICE_NO_CHANGE,
      SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, own.c_str(), nullptr, nullptr,
      nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(PackageInstallService(), 0u);
  std::string buffer(8192, '\0');
  auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(&buffer[0]);
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigW(reinterpret_cast<SC_HANDLE>(service.Get()),
                                  config, 8192, &needed));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START))
      << "its own registration is rewritten to the settings";

  ASSERT_EQ(StartServiceAndWait(), 0u);
  EXPECT_EQ(PackageStopService(), 0u);
  EXPECT_EQ(QueryServiceState(), kServiceStopped);
  service.Reset();
  EXPECT_EQ(PackageUndoInstall(), 0u);
  EXPECT_EQ(QueryServiceState(), 0u) << "its own registration is undone";
}

TEST_F(RealServiceTest, AMissingServiceGivesTheManagersCode) {
  EXPECT_EQ(StartServiceAndWait(), kDoesNotExist);
  EXPECT_EQ(StopServiceAndWait(), kDoesNotExist);
  EXPECT_EQ(UninstallService(), kDoesNotExist);
  EXPECT_EQ(QueryServiceState(), 0u);
}

TEST_F(RealServiceTest, AStoppedServiceIsNotActive) {
  ASSERT_EQ(InstallService(), 0u);
  platform::ScopedScHandle manager(
      platform::OpenServiceManager(SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager.IsValid());
  platform::ScopedScHandle service(platform::OpenNamedService(
      manager.Get(), ServiceSettings.serviceName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service.IsValid());
  platform::ServiceStatus status{};
  EXPECT_FALSE(platform::ControlNamedService(service.Get(),
                                             SERVICE_CONTROL_STOP, &status));
  EXPECT_EQ(platform::LastServiceError(), kErrorServiceNotActive);
}

TEST_F(RealServiceTest, InstallSetsDescriptionAndRestartActions) {
  ASSERT_EQ(InstallService(), 0u);
  platform::ScopedScHandle manager(
      platform::OpenServiceManager(SC_MANAGER_ALL_ACCESS));
  platform::ScopedScHandle service(platform::OpenNamedService(
      manager.Get(), ServiceSettings.serviceName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service.IsValid());
  const auto handle = reinterpret_cast<SC_HANDLE>(service.Get());

  BYTE buffer[8192];
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfig2W(handle, SERVICE_CONFIG_DESCRIPTION, buffer,
                                   sizeof buffer, &needed));
  EXPECT_STREQ(reinterpret_cast<SERVICE_DESCRIPTIONW*>(buffer)->lpDescription,
               L"Installed by a test");

  if (!QueryServiceConfig2W(handle, SERVICE_CONFIG_FAILURE_ACTIONS, buffer,
                            sizeof buffer, &needed)) {
    GTEST_SKIP() << "failure actions can't be read back here, error "
                 << GetLastError();
  }
  const auto* actions = reinterpret_cast<SERVICE_FAILURE_ACTIONSW*>(buffer);
  EXPECT_EQ(actions->dwResetPeriod, 86400u);
  ASSERT_EQ(actions->cActions, 3u);
  const DWORD delays[] = {5000, 30000, 60000};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(actions->lpsaActions[i].Type, SC_ACTION_RESTART);
    EXPECT_EQ(actions->lpsaActions[i].Delay, delays[i]);
  }
}

// The process the manager names for the running service is the fixture's
// own, held open through the stop until it has ended; a stopped service runs
// in none. A buffer size the manager refuses would give 0 for the running one
// too.
TEST_F(RealServiceTest, HoldsTheProcessOfTheRunningServiceOnly) {
  ASSERT_EQ(InstallService(), 0u);
  ASSERT_EQ(StartServiceAndWait(), 0u);
  platform::ScopedScHandle manager(
      platform::OpenServiceManager(SC_MANAGER_ALL_ACCESS));
  platform::ScopedScHandle service(platform::OpenNamedService(
      manager.Get(), ServiceSettings.serviceName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service.IsValid());
  const std::uint32_t pid = platform::ServiceProcessId(service.Get());
  ASSERT_NE(pid, 0u);
  EXPECT_EQ(ImageOf(pid), L"fixture_service.exe");
  platform::OpenFailure failure = platform::OpenFailure::kNone;
  const platform::ScopedProcessHandle process(
      platform::OpenServiceProcess(service.Get(), &failure));
  ASSERT_TRUE(process.IsValid()) << static_cast<int>(failure);
  EXPECT_FALSE(platform::WaitForProcessEnd(process.Get(), 0)) << "running";

  ASSERT_EQ(StopServiceAndWait(), 0u);
  EXPECT_TRUE(platform::WaitForProcessEnd(process.Get(), 10000));
  EXPECT_EQ(platform::ServiceProcessId(service.Get()), 0u);
  EXPECT_EQ(platform::OpenServiceProcess(service.Get(), &failure), nullptr);
  EXPECT_EQ(failure, platform::OpenFailure::kNoSuchProcess);
}

// Every field of a status report reaches the manager as given: the fixture
// reports a checkpoint, a wait hint and exit codes on control 200 and when it
// stops.
TEST_F(RealServiceTest, AStatusReportReachesTheManagerFieldByField) {
  ASSERT_EQ(InstallService(), 0u);
  ASSERT_EQ(StartServiceAndWait(), 0u);
  platform::ScopedScHandle manager(
      platform::OpenServiceManager(SC_MANAGER_ALL_ACCESS));
  platform::ScopedScHandle service(platform::OpenNamedService(
      manager.Get(), ServiceSettings.serviceName, SERVICE_ALL_ACCESS));
  ASSERT_TRUE(service.IsValid());
  platform::ServiceStatus status{};
  ASSERT_TRUE(platform::ControlNamedService(service.Get(), 200, &status))
      << platform::LastServiceError();

  SERVICE_STATUS_PROCESS reported{};
  for (int poll = 0; poll < 50 && reported.dwCheckPoint != 5; ++poll) {
    reported = QueryStatus(service.Get());
    if (reported.dwCheckPoint != 5) Sleep(100);
  }
  EXPECT_EQ(reported.dwServiceType, 16u);
  EXPECT_EQ(reported.dwCurrentState, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(reported.dwControlsAccepted,
            static_cast<DWORD>(SERVICE_ACCEPT_STOP));
  EXPECT_EQ(reported.dwWin32ExitCode, 1066u);
  EXPECT_EQ(reported.dwServiceSpecificExitCode, 7u);
  EXPECT_EQ(reported.dwCheckPoint, 5u);
  EXPECT_EQ(reported.dwWaitHint, 9000u);

  ASSERT_EQ(StopServiceAndWait(), 0u);
  reported = QueryStatus(service.Get());
  EXPECT_EQ(reported.dwCurrentState, static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(reported.dwWin32ExitCode, 1066u);
  EXPECT_EQ(reported.dwServiceSpecificExitCode, 42u);
  EXPECT_EQ(reported.dwCheckPoint, 0u);
  EXPECT_EQ(reported.dwWaitHint, 0u);
}

// Closing a handle after a failed call leaves that call's error to be read,
// also when the close itself fails.
TEST_F(RealServiceTest, ClosingKeepsTheErrorOfTheFailedCall) {
  platform::ScopedScHandle manager(
      platform::OpenServiceManager(SC_MANAGER_ALL_ACCESS));
  ASSERT_TRUE(manager.IsValid());
  {
    platform::ScopedScHandle missing(platform::OpenNamedService(
        manager.Get(), ServiceSettings.serviceName, SERVICE_ALL_ACCESS));
    ASSERT_FALSE(missing.IsValid());
    ASSERT_EQ(platform::LastServiceError(), kDoesNotExist);
    // A handle the manager never gave out: its close fails with a code of
    // its own.
    platform::CloseServiceManagerHandle(nullptr);
    EXPECT_EQ(platform::LastServiceError(), kDoesNotExist);
    manager.Reset();
    EXPECT_EQ(platform::LastServiceError(), kDoesNotExist);
  }
}

// The system's texts where it has them, our own where it has none.
TEST(SystemErrorTextTest, GivesTheSystemsTextOrOneOfItsOwn) {
  for (const std::uint32_t code : {6u, 258u, 1060u, 1062u, 1073u}) {
    const std::string text = SystemErrorText(code);
    ASSERT_GE(text.size(), 3u) << code;
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << code;
    const platform::ScopedSystemMessage system(
        platform::FormatSystemMessage(code));
    if (system.IsValid()) {
      std::wstring wide(system.Get());
      EXPECT_EQ(text, std::string(wide.begin(), wide.end())) << code;
    } else {
      EXPECT_NE(text.find(std::to_string(code)), std::string::npos) << text;
    }
  }
}

// A system text with an insert (193: "... %1 ...") comes as the system holds
// it, the insert left as it is, not formatted from arguments nobody gave.
TEST(SystemErrorTextTest, KeepsTheInsertsOfTheSystemsText) {
  const platform::ScopedSystemMessage system(
      platform::FormatSystemMessage(193));
  ASSERT_TRUE(system.IsValid());
  const std::wstring wide(system.Get());
  EXPECT_NE(wide.find(L"%1"), std::wstring::npos);
  const std::string text = SystemErrorText(193);
  EXPECT_EQ(text, std::string(wide.begin(), wide.end()));
  EXPECT_NE(text.find("%1"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST(SystemTest, TheModulePathIsThisProgram) {
  const std::wstring path = platform::ModuleFileName();
  ASSERT_GT(path.size(), 3u);
  EXPECT_EQ(path[1], L':');
  EXPECT_NE(path.find(L"platform_service_control_test.exe"),
            std::wstring::npos);
}

TEST(SystemTest, RestrictsDllSearchAndStartsWinsock) {
  EXPECT_TRUE(platform::RestrictDllSearchToSystemDirectory());
  const platform::WinsockSession winsock;
  EXPECT_TRUE(winsock.IsStarted());
  platform::SleepMilliseconds(1);
}

TEST(ServiceRuntimeTest, ADispatcherOutsideTheManagerFails) {
  EXPECT_FALSE(platform::StartServiceDispatcher(
      L"didurozir_test",
      [](std::uint32_t, wchar_t**) -> std::uint32_t { return 0; }));
  platform::ServiceStatus status{};
  status.currentState = kServiceRunning;
  EXPECT_FALSE(platform::ReportServiceStatus(nullptr, status));
}

}  // namespace

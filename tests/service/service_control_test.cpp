#include <deque>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "service_fixture.h"

namespace {

using fakes::ScCall;

constexpr std::uint32_t kAccessDenied = 5;
constexpr std::uint32_t kAlreadyRunning = 1056;
constexpr std::uint32_t kDoesNotExist = 1060;
constexpr std::uint32_t kCannotAcceptControl = 1061;
constexpr std::uint32_t kServiceExists = 1073;

class ServiceControlTest : public ServiceFixture {
 protected:
  void TearDown() override {
    EXPECT_EQ(scm().HandleProblems(), "");
    EXPECT_EQ(fakes::ProcessHandles().OpenNow(), 0) << "process handles";
  }

  // Registered, as -install registers it, to run this executable.
  fakes::FakeService& Installed(std::uint32_t state) {
    fakes::FakeService& service = scm().AddService(kName, state);
    service.binaryPathName = ServiceSettings.binaryPathName;
    return service;
  }
  int Interrogations(const fakes::FakeService& service) const {
    int count = 0;
    for (std::uint32_t control : service.controls) count += control == 4;
    return count;
  }
};

// QueryServiceState: the state, or 0 whenever it can't be had.
struct QueryCase {
  const char* what;
  bool installed;
  std::uint32_t state;
  const ScCall* failing;  // the call that fails, if any
  std::uint32_t expected;
};

constexpr ScCall kOpenManager = ScCall::kOpenManager;
constexpr ScCall kOpenService = ScCall::kOpenService;
constexpr ScCall kInterrogate = ScCall::kInterrogate;

class QueryStateTest : public ServiceControlTest,
                       public ::testing::WithParamInterface<QueryCase> {};

TEST_P(QueryStateTest, ReportsTheStateOrZero) {
  const QueryCase& c = GetParam();
  if (c.installed) Installed(c.state);
  if (c.failing != nullptr) scm().Fail(*c.failing, kAccessDenied);
  EXPECT_EQ(QueryServiceState(), c.expected) << c.what;
  EXPECT_EQ(scm().OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    States, QueryStateTest,
    ::testing::Values(
        QueryCase{"running", true, 4, nullptr, 4},
        QueryCase{"paused", true, 7, nullptr, 7},
        QueryCase{"stopped: not active", true, 1, nullptr, 1},
        QueryCase{"starting: refuses", true, 2, nullptr, 0},
        QueryCase{"not installed", false, 1, nullptr, 0},
        QueryCase{"no manager", true, 4, &kOpenManager, 0},
        QueryCase{"service not opened", true, 4, &kOpenService, 0},
        QueryCase{"interrogation refused", true, 4, &kInterrogate, 0}));

TEST_F(ServiceControlTest, StartingARunningServiceSendsNoRequest) {
  fakes::FakeService& service = Installed(4);
  EXPECT_EQ(StartServiceAndWait(), 0u);
  EXPECT_EQ(service.startRequests, 0);
  EXPECT_TRUE(system().sleeps.empty());
}

TEST_F(ServiceControlTest, StartingPollsAtOnceThenEverySecond) {
  fakes::FakeService& service = Installed(1);
  service.stateAfterStart = 2;
  service.upcomingStates = {1, 2, 2, 4};
  EXPECT_EQ(StartServiceAndWait(), 0u);
  EXPECT_EQ(service.startRequests, 1);
  EXPECT_EQ(system().sleeps, (std::vector<std::uint32_t>{1000, 1000}));
  // The check, then three polls; each step with its own pair of handles, the
  // request's pair held to the end.
  EXPECT_EQ(Interrogations(service), 1 + 3);
  EXPECT_EQ(scm().handles.size(), 2u * (1 + 1 + 3));
}

TEST_F(ServiceControlTest, StartingAPausedServiceReturnsTheRefusal) {
  fakes::FakeService& service = Installed(7);
  EXPECT_EQ(StartServiceAndWait(), kAlreadyRunning);
  EXPECT_EQ(service.state, 7u);
  EXPECT_TRUE(system().sleeps.empty());
}

TEST_F(ServiceControlTest, StoppingAStoppedServiceSendsNoRequest) {
  fakes::FakeService& service = Installed(1);
  EXPECT_EQ(StopServiceAndWait(), 0u);
  EXPECT_EQ(service.controls, std::vector<std::uint32_t>{4});
}

TEST_F(ServiceControlTest, StoppingARunningServiceWaitsForStopped) {
  fakes::FakeService& service = Installed(4);
  service.stateAfterStop = 3;
  service.upcomingStates = {4, 3, 1};
  EXPECT_EQ(StopServiceAndWait(), 0u);
  EXPECT_EQ(service.controls, (std::vector<std::uint32_t>{4, 1, 4, 4}));
  EXPECT_EQ(system().sleeps, std::vector<std::uint32_t>{1000});
}

// A start or stop that never arrives: 29 polls, each followed by a second's
// sleep, then 258; the request stands.
TEST_F(ServiceControlTest, AStartThatNeverArrivesTimesOut) {
  fakes::FakeService& service = Installed(1);
  service.stateAfterStart = 2;
  EXPECT_EQ(StartServiceAndWait(), kWaitTimeout);
  EXPECT_EQ(system().sleeps, std::vector<std::uint32_t>(29, 1000));
  EXPECT_EQ(Interrogations(service), 1 + 29);
  EXPECT_EQ(service.state, 2u);
}

TEST_F(ServiceControlTest, AStopThatNeverArrivesTimesOut) {
  fakes::FakeService& service = Installed(4);
  service.stateAfterStop = 3;
  EXPECT_EQ(StopServiceAndWait(), kWaitTimeout);
  EXPECT_EQ(system().sleeps, std::vector<std::uint32_t>(29, 1000));
}

TEST_F(ServiceControlTest, TheLastPollCanStillSucceed) {
  fakes::FakeService& service = Installed(1);
  service.stateAfterStart = 2;
  service.upcomingStates = std::deque<std::uint32_t>(28, 2);
  service.upcomingStates.push_front(1);
  service.upcomingStates.push_back(4);
  EXPECT_EQ(StartServiceAndWait(), 0u);
  EXPECT_EQ(system().sleeps.size(), 28u);
}

TEST_F(ServiceControlTest, FailedPollsDoNotEndTheWait) {
  fakes::FakeService& service = Installed(1);
  service.stateAfterStart = 2;
  service.upcomingStates = {1, 2, 2, 2, 4};
  // Manager calls: check, request, then one per poll.
  scm().Fail(ScCall::kOpenManager, kAccessDenied, 3);
  scm().Fail(ScCall::kOpenService, kAccessDenied, 4);
  scm().Fail(ScCall::kInterrogate, kAccessDenied, 4);
  EXPECT_EQ(StartServiceAndWait(), 0u);
  EXPECT_EQ(system().sleeps.size(), 6u);
}

// Every failing step: its result, and every handle closed once, a service's
// before its manager's.
using Operation = std::uint32_t (*)();

struct FailureCase {
  const char* what;
  Operation operation;
  std::uint32_t initialState;
  ScCall failing;
  int occurrence;
  std::uint32_t expected;
};

class FailureTest : public ServiceControlTest,
                    public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, ReturnsTheCodeAndClosesEveryHandle) {
  const FailureCase& c = GetParam();
  Installed(c.initialState);
  scm().Fail(c.failing, kAccessDenied, c.occurrence);
  EXPECT_EQ(c.operation(), c.expected) << c.what;
  EXPECT_EQ(scm().OpenHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FailureTest,
    ::testing::Values(FailureCase{"start: no manager", StartServiceAndWait, 1,
                                  ScCall::kOpenManager, 1, kErrorInvalidHandle},
                      FailureCase{"start: check open", StartServiceAndWait, 1,
                                  ScCall::kOpenService, 1, kAccessDenied},
                      FailureCase{"start: check refused", StartServiceAndWait,
                                  1, ScCall::kInterrogate, 1, kAccessDenied},
                      FailureCase{"start: no manager for the request",
                                  StartServiceAndWait, 1, ScCall::kOpenManager,
                                  2, kErrorInvalidHandle},
                      FailureCase{"start: request open", StartServiceAndWait, 1,
                                  ScCall::kOpenService, 2, kAccessDenied},
                      FailureCase{"start: request refused", StartServiceAndWait,
                                  1, ScCall::kStart, 1, kAccessDenied},
                      FailureCase{"stop: no manager", StopServiceAndWait, 4,
                                  ScCall::kOpenManager, 1, kErrorInvalidHandle},
                      FailureCase{"stop: check open", StopServiceAndWait, 4,
                                  ScCall::kOpenService, 1, kAccessDenied},
                      FailureCase{"stop: request open", StopServiceAndWait, 4,
                                  ScCall::kOpenService, 2, kAccessDenied},
                      FailureCase{"stop: request refused", StopServiceAndWait,
                                  4, ScCall::kControl, 1, kAccessDenied},
                      FailureCase{"uninstall: no manager", UninstallService, 1,
                                  ScCall::kOpenManager, 1, kErrorInvalidHandle},
                      FailureCase{"uninstall: open", UninstallService, 1,
                                  ScCall::kOpenService, 1, kAccessDenied},
                      // Only the first manager open stands for 6.
                      FailureCase{"uninstall: no manager for the check",
                                  UninstallService, 1, ScCall::kOpenManager, 2,
                                  kAccessDenied},
                      FailureCase{"uninstall: check open", UninstallService, 1,
                                  ScCall::kOpenService, 2, kAccessDenied},
                      FailureCase{"uninstall: check refused", UninstallService,
                                  4, ScCall::kInterrogate, 1, kAccessDenied},
                      FailureCase{"uninstall: stop refused", UninstallService,
                                  4, ScCall::kControl, 1, kAccessDenied},
                      FailureCase{"uninstall: delete refused", UninstallService,
                                  1, ScCall::kDelete, 1, kAccessDenied},
                      FailureCase{"install: no manager", InstallService, 1,
                                  ScCall::kOpenManager, 1, kErrorInvalidHandle},
                      FailureCase{"install: creation refused", InstallService,
                                  1, ScCall::kCreate, 1, kAccessDenied}));

TEST_F(ServiceControlTest, AMissingServiceGivesTheOpeningError) {
  EXPECT_EQ(StartServiceAndWait(), kDoesNotExist);
  EXPECT_EQ(StopServiceAndWait(), kDoesNotExist);
  EXPECT_EQ(UninstallService(), kDoesNotExist);
  EXPECT_EQ(QueryServiceState(), 0u);
}

TEST_F(ServiceControlTest, TheManagerFailureIsAlwaysSix) {
  Installed(1);
  scm().Fail(ScCall::kOpenManager, kAccessDenied);
  EXPECT_EQ(StartServiceAndWait(), kErrorInvalidHandle);
  EXPECT_EQ(StopServiceAndWait(), kErrorInvalidHandle);
  EXPECT_EQ(UninstallService(), kErrorInvalidHandle);
  EXPECT_EQ(InstallService(), kErrorInvalidHandle);
}

TEST_F(ServiceControlTest, UninstallDeletesAStoppedService) {
  Installed(1);
  EXPECT_EQ(UninstallService(), 0u);
  EXPECT_FALSE(scm().Has(kName));
}

TEST_F(ServiceControlTest, UninstallStopsARunningServiceFirst) {
  fakes::FakeService& service = Installed(4);
  service.stateAfterStop = 3;
  // The uninstall's check, the stop's check, then the polls.
  service.upcomingStates = {4, 4, 3, 1};
  EXPECT_EQ(UninstallService(), 0u);
  EXPECT_FALSE(scm().Has(kName));
  EXPECT_EQ(system().sleeps, std::vector<std::uint32_t>{1000});
}

// The stopped service's process is waited for, so that its executable is free
// when the uninstallation returns; a service stopped before has none left.
TEST_F(ServiceControlTest, UninstallWaitsForTheStoppedServicesProcess) {
  Installed(4).processId = 3120;
  EXPECT_EQ(UninstallService(), 0u);
  EXPECT_EQ(scm().processWaits,
            (std::vector<std::pair<std::uint32_t, bool>>{{3120, true}}));

  scm().processWaits.clear();
  Installed(1).processId = 0;
  EXPECT_EQ(UninstallService(), 0u);
  EXPECT_TRUE(scm().processWaits.empty());
}

TEST_F(ServiceControlTest, UninstallKeepsAServiceThatWontStop) {
  fakes::FakeService& service = Installed(4);
  service.stateAfterStop = 3;
  EXPECT_EQ(UninstallService(), kWaitTimeout);
  ASSERT_TRUE(scm().Has(kName));
  EXPECT_EQ(system().sleeps.size(), 29u);
}

TEST_F(ServiceControlTest, UninstallOfAServiceInTransitionReturnsTheRefusal) {
  Installed(3);  // stopping: it takes no control, not even an interrogation
  EXPECT_EQ(UninstallService(), kCannotAcceptControl);
  EXPECT_TRUE(scm().Has(kName));
}

TEST_F(ServiceControlTest, InstallRegistersTheWholeSettings) {
  SetSettingText(ServiceSettings.displayName, L"QUENTAR Agent Monitor");
  SetSettingText(ServiceSettings.description, L"Watches the agent");
  ASSERT_EQ(InstallService(), 0u);

  ASSERT_TRUE(scm().Has(kName));
  const fakes::FakeService& service = scm().services.at(kName);
  EXPECT_EQ(service.displayName, L"QUENTAR Agent Monitor");
  EXPECT_EQ(service.desiredAccess, 0xF01FFu);
  EXPECT_EQ(service.serviceType, 16u);
  EXPECT_EQ(service.startType, 2u);
  EXPECT_EQ(service.errorControl, 1u);
  EXPECT_EQ(service.binaryPathName, L"C:\\QUENTAR\\didurozir.exe");
  EXPECT_FALSE(service.loadOrderGroupNull);
  EXPECT_EQ(service.loadOrderGroup, L"");
  EXPECT_FALSE(service.dependenciesNull);
  EXPECT_EQ(service.dependencies, L"");
  EXPECT_TRUE(service.serviceStartNameNull);  // LocalSystem
  EXPECT_TRUE(service.passwordNull);
  EXPECT_TRUE(service.descriptionSet);
  EXPECT_EQ(service.description, L"Watches the agent");

  // It comes back by itself when its process dies.
  ASSERT_TRUE(service.failureActionsSet);
  EXPECT_EQ(service.resetPeriod, 86400u);
  ASSERT_EQ(service.failureActions.size(), 3u);
  const std::uint32_t delays[] = {5000, 30000, 60000};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(service.failureActions[i].type, 1u);
    EXPECT_EQ(service.failureActions[i].delay, delays[i]);
  }

  ASSERT_EQ(scm().handles.size(), 2u);
  EXPECT_EQ(scm().handles[0].access, 2u);  // create-service right only
}

TEST_F(ServiceControlTest, InstallQuotesAPathWithASpace) {
  system().moduleFileName = L"C:\\Program Files\\QUENTAR\\didurozir.exe";
  settingsInitialized = 0;
  const CServiceManager manager;
  ASSERT_EQ(InstallService(), 0u);
  EXPECT_EQ(scm().services.begin()->second.binaryPathName,
            L"\"C:\\Program Files\\QUENTAR\\didurozir.exe\"");
}

TEST_F(ServiceControlTest, InstallOfAnExistingServiceLeavesItAlone) {
  fakes::FakeService& existing = Installed(4);
  EXPECT_EQ(InstallService(), kServiceExists);
  EXPECT_FALSE(existing.descriptionSet);
  EXPECT_FALSE(existing.failureActionsSet);
  EXPECT_EQ(scm().calls[ScCall::kSetDescription], 0);
  EXPECT_EQ(scm().calls[ScCall::kSetFailureActions], 0);
}

TEST_F(ServiceControlTest, InstallSucceedsWhenTheExtrasAreRefused) {
  scm().Fail(ScCall::kSetDescription, kAccessDenied);
  scm().Fail(ScCall::kSetFailureActions, kAccessDenied);
  fakes::EventLog().failRegister = kAccessDenied;
  EXPECT_EQ(InstallService(), 0u);
  EXPECT_TRUE(scm().Has(kName));
}

// The event source comes with the service and goes once it is deleted.
TEST_F(ServiceControlTest, TheEventSourceFollowsTheService) {
  auto& sources = fakes::EventLog().sources;
  Installed(4);
  EXPECT_EQ(InstallService(), kServiceExists);
  EXPECT_TRUE(sources.empty());
  scm().services.clear();

  ASSERT_EQ(InstallService(), 0u);
  EXPECT_EQ(sources[L"didurozir"], L"C:\\QUENTAR\\didurozir-messages.dll");

  scm().Fail(ScCall::kDelete, kAccessDenied);
  EXPECT_EQ(UninstallService(), kAccessDenied);
  EXPECT_EQ(sources.count(L"didurozir"), 1u);
  scm().failures.clear();
  fakes::EventLog().failRemove = kAccessDenied;
  EXPECT_EQ(UninstallService(), 0u) << "a key left behind is no failure";
  fakes::EventLog().failRemove = 0;
  ASSERT_EQ(InstallService(), 0u);
  EXPECT_EQ(UninstallService(), 0u);
  EXPECT_TRUE(sources.empty());
}

// The package's operations. The executable is C:\QUENTAR\didurozir.exe.
constexpr const wchar_t* kOwnPath = L"C:\\QUENTAR\\didurozir.exe";

// An existing registration: rewritten when it runs this executable, however
// its path is quoted or cased; refused, untouched, when it runs another.
struct TakeOverCase {
  const char* what;
  const wchar_t* registeredPath;
  std::uint32_t expected;
  bool rewritten;
};

class PackageInstallTest : public ServiceControlTest,
                           public ::testing::WithParamInterface<TakeOverCase> {
};

TEST_P(PackageInstallTest, RewritesItsOwnRegistrationOnly) {
  const TakeOverCase& c = GetParam();
  fakes::FakeService& existing = Installed(4);
  existing.binaryPathName = c.registeredPath;
  existing.startType = 3;
  existing.displayName = L"hand-made";

  EXPECT_EQ(PackageInstallService(), c.expected) << c.what;
  const fakes::FakeService& after = scm().services.at(kName);
  EXPECT_EQ(after.reconfigurations, c.rewritten ? 1 : 0) << c.what;
  EXPECT_EQ(after.startType, c.rewritten ? 2u : 3u) << c.what;
  EXPECT_EQ(after.binaryPathName, c.rewritten ? kOwnPath : c.registeredPath);
  EXPECT_EQ(after.failureActionsSet, c.rewritten) << c.what;
  EXPECT_EQ(after.descriptionSet, c.rewritten) << c.what;
  EXPECT_EQ(after.state, 4u) << "never stopped or started";
}

INSTANTIATE_TEST_SUITE_P(
    Registrations, PackageInstallTest,
    ::testing::Values(
        TakeOverCase{"the same path", kOwnPath, 0, true},
        TakeOverCase{"quoted", L"\"C:\\QUENTAR\\didurozir.exe\"", 0, true},
        TakeOverCase{"other case", L"c:\\quentar\\DIDUROZIR.EXE", 0, true},
        TakeOverCase{"another folder", L"C:\\tools\\didurozir.exe",
                     kServiceExists, false},
        TakeOverCase{"with an argument", L"C:\\QUENTAR\\didurozir.exe -x",
                     kServiceExists, false},
        TakeOverCase{"only half quoted", L"\"C:\\QUENTAR\\didurozir.exe",
                     kServiceExists, false}));

TEST_F(ServiceControlTest, PackageInstallCreatesOrReportsARefusal) {
  scm().Fail(ScCall::kCreate, kAccessDenied);
  EXPECT_EQ(PackageInstallService(), kAccessDenied) << "a failed creation";
  EXPECT_FALSE(scm().Has(kName));
  scm().failures.clear();

  EXPECT_EQ(PackageInstallService(), 0u);
  EXPECT_EQ(scm().services.at(kName).binaryPathName, kOwnPath);

  scm().Fail(ScCall::kQueryConfig, kAccessDenied);
  EXPECT_EQ(PackageInstallService(), kAccessDenied);
  scm().failures.clear();
  scm().Fail(ScCall::kChangeConfig, kAccessDenied);
  EXPECT_EQ(PackageInstallService(), kAccessDenied);
}

// Before an upgrade replaces the executable: the service stopped, then the
// process it ran in waited for, held open from before the stop (once stopped,
// its PID may name another process); any part that does not finish, or a
// process that can't be held, is a failure.
struct PackageStopCase {
  const char* what;
  bool installed;
  std::uint32_t stateAfterStop;
  bool processEnds;
  bool processOpens;
  std::uint32_t expected;
  std::vector<std::pair<std::uint32_t, bool>> waits;
};

class PackageStopTest : public ServiceControlTest,
                        public ::testing::WithParamInterface<PackageStopCase> {
};

TEST_P(PackageStopTest, WaitsForTheProcessOfTheStoppedService) {
  const PackageStopCase& c = GetParam();
  if (c.installed) {
    fakes::FakeService& service = Installed(4);
    service.processId = 3120;
    service.stateAfterStop = c.stateAfterStop;
  }
  scm().processesEnd = c.processEnds;
  scm().refuseProcessOpen = !c.processOpens;
  EXPECT_EQ(PackageStopService(), c.expected) << c.what;
  EXPECT_EQ(scm().processWaits, c.waits) << c.what;
  if (c.installed && c.processOpens) {
    EXPECT_EQ(scm().processOpens,
              (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{3120, 4}}))
        << c.what << ": opened while it ran";
  }
  EXPECT_EQ(scm().Has(kName), c.installed) << "never deleted";
}

INSTANTIATE_TEST_SUITE_P(
    Stops, PackageStopTest,
    ::testing::Values(
        PackageStopCase{
            "stops and ends", true, 1, true, true, 0, {{3120, true}}},
        PackageStopCase{"the process lingers",
                        true,
                        1,
                        false,
                        true,
                        kWaitTimeout,
                        {{3120, true}}},
        PackageStopCase{"the process can't be held",
                        true,
                        1,
                        true,
                        false,
                        kWaitTimeout,
                        {}},
        PackageStopCase{
            "the stop never arrives", true, 3, true, true, kWaitTimeout, {}},
        PackageStopCase{"no service", false, 1, true, true, 0, {}}));

TEST_F(ServiceControlTest, PackageUninstallFailsOnlyWhereTheServiceStays) {
  EXPECT_EQ(PackageUninstallService(), 0u) << "none there";

  Installed(4).stateAfterStop = 3;
  EXPECT_EQ(PackageUninstallService(), kWaitTimeout);
  EXPECT_TRUE(scm().Has(kName));

  scm().services.at(kName).state = 1;
  EXPECT_EQ(PackageUninstallService(), 0u);
  EXPECT_FALSE(scm().Has(kName));
}

// The package's removal, and the rollback of its fresh installation, take away
// only a registration of their own executable: another folder's stays,
// running, and is no failure.
class PackageRemovalTest
    : public ServiceControlTest,
      public ::testing::WithParamInterface<std::uint32_t (*)()> {};

TEST_P(PackageRemovalTest, KeepsAnotherExecutables) {
  EXPECT_EQ(GetParam()(), 0u) << "none there";

  Installed(4).binaryPathName = L"C:\\tools\\didurozir.exe";
  EXPECT_EQ(GetParam()(), 0u);
  ASSERT_TRUE(scm().Has(kName));
  EXPECT_EQ(scm().services.at(kName).state, 4u);
  EXPECT_TRUE(scm().services.at(kName).controls.empty()) << "never stopped";

  scm().services.at(kName).binaryPathName = kOwnPath;
  EXPECT_EQ(GetParam()(), 0u);
  EXPECT_FALSE(scm().Has(kName));
}

INSTANTIATE_TEST_SUITE_P(Switches, PackageRemovalTest,
                         ::testing::Values(PackageUninstallService,
                                           PackageUndoInstall));
}  // namespace

namespace {

constexpr std::uint32_t kCreateServiceRight = 2;
constexpr std::uint32_t kManagerAllAccess = 0xF003F;
constexpr std::uint32_t kServiceAllAccess = 0xF01FF;

// The rights each operation asks of the manager, handle by handle, and of the
// service: only the installation's own manager handle is narrowed to creating
// a service; every other one is opened with all access, as every service.
struct AccessCase {
  const char* what;
  Operation operation;
  bool installed;
  std::uint32_t state;
  std::vector<std::uint32_t> managerAccess;
};

void PrintTo(const AccessCase& c, std::ostream* out) { *out << c.what; }

class AccessTest : public ServiceControlTest,
                   public ::testing::WithParamInterface<AccessCase> {};

TEST_P(AccessTest, AsksTheManagerAndTheServiceForTheirRights) {
  const AccessCase& c = GetParam();
  if (c.installed) Installed(c.state).binaryPathName = kOwnPath;
  EXPECT_EQ(c.operation(), 0u);

  std::vector<std::uint32_t> managers;
  int services = 0;
  for (const fakes::FakeScHandle& handle : scm().handles) {
    if (handle.isManager) {
      managers.push_back(handle.access);
    } else {
      ++services;
      EXPECT_EQ(handle.access, kServiceAllAccess) << c.what;
    }
  }
  EXPECT_EQ(managers, c.managerAccess);
  EXPECT_GT(services, 0);
}

const std::uint32_t kAll = kManagerAllAccess;

INSTANTIATE_TEST_SUITE_P(
    Operations, AccessTest,
    ::testing::Values(
        AccessCase{"install", InstallService, false, 1, {kCreateServiceRight}},
        AccessCase{"start: check, request, poll",
                   StartServiceAndWait,
                   true,
                   1,
                   {kAll, kAll, kAll}},
        AccessCase{"stop: check, request, poll",
                   StopServiceAndWait,
                   true,
                   4,
                   {kAll, kAll, kAll}},
        AccessCase{"query",
                   [] { return QueryServiceState() == 4 ? 0u : 1u; },
                   true,
                   4,
                   {kAll}},
        AccessCase{"uninstall of a stopped service",
                   UninstallService,
                   true,
                   1,
                   {kAll, kAll}},
        AccessCase{"uninstall with a stop",
                   UninstallService,
                   true,
                   4,
                   {kAll, kAll, kAll, kAll, kAll}},
        AccessCase{"package install, new",
                   PackageInstallService,
                   false,
                   1,
                   {kCreateServiceRight}},
        AccessCase{"package install over its own registration",
                   PackageInstallService,
                   true,
                   4,
                   {kCreateServiceRight, kAll}},
        AccessCase{"package uninstall: whose, then as uninstall",
                   PackageUninstallService,
                   true,
                   4,
                   {kAll, kAll, kAll, kAll, kAll, kAll}},
        AccessCase{"package stop",
                   PackageStopService,
                   true,
                   4,
                   {kAll, kAll, kAll, kAll}},
        AccessCase{
            "package undo", PackageUndoInstall, true, 1, {kAll, kAll, kAll}}));

// The event source carries the service's name, which the events are written
// under, and never its display name.
struct SourceCase {
  const char* what;
  Operation operation;
  bool installed;
};

void PrintTo(const SourceCase& c, std::ostream* out) { *out << c.what; }

class EventSourceTest : public ServiceControlTest,
                        public ::testing::WithParamInterface<SourceCase> {};

TEST_P(EventSourceTest, IsRegisteredUnderTheServiceName) {
  const SourceCase& c = GetParam();
  SetSettingText(ServiceSettings.displayName, L"QUENTAR Agent Monitor");
  if (c.installed) Installed(1).binaryPathName = kOwnPath;
  ASSERT_EQ(c.operation(), 0u) << c.what;
  const std::map<std::wstring, std::wstring> expected = {
      {L"didurozir", L"C:\\QUENTAR\\didurozir-messages.dll"}};
  EXPECT_EQ(fakes::EventLog().sources, expected) << c.what;

  EXPECT_EQ(UninstallService(), 0u);
  EXPECT_TRUE(fakes::EventLog().sources.empty()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Registrations, EventSourceTest,
    ::testing::Values(SourceCase{"install", InstallService, false},
                      SourceCase{"package install", PackageInstallService,
                                 false},
                      SourceCase{"package install over its own registration",
                                 PackageInstallService, true}));

// The manager tells a service's process only while the service runs: the
// uninstallation reads it before the stop, and so waits for that process.
struct ProcessCase {
  const char* what;
  Operation operation;
  std::uint32_t stateAfterStop;
  std::deque<std::uint32_t> upcomingStates;
};

void PrintTo(const ProcessCase& c, std::ostream* out) { *out << c.what; }

class ProcessWaitTest : public ServiceControlTest,
                        public ::testing::WithParamInterface<ProcessCase> {};

TEST_P(ProcessWaitTest, WaitsForTheProcessReadBeforeTheStop) {
  const ProcessCase& c = GetParam();
  fakes::FakeService& service = Installed(4);
  service.processId = 3120;
  service.stateAfterStop = c.stateAfterStop;
  service.upcomingStates = c.upcomingStates;
  EXPECT_EQ(c.operation(), 0u) << c.what;
  EXPECT_EQ(scm().processOpens,
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>{{3120, 4}}))
      << c.what << ": held from before the stop";
  EXPECT_EQ(scm().processWaits,
            (std::vector<std::pair<std::uint32_t, bool>>{{3120, true}}))
      << c.what;
  EXPECT_FALSE(scm().Has(kName)) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Uninstalls, ProcessWaitTest,
    ::testing::Values(
        ProcessCase{"stopped at once", UninstallService, 1, {}},
        ProcessCase{"stopping first", UninstallService, 3, {4, 4, 3, 3, 1}},
        ProcessCase{"package uninstall", PackageUninstallService, 1, {}}));

}  // namespace

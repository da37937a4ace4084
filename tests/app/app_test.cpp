#include "app/app.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "fakes/fake_console.h"
#include "fakes/fake_event_log.h"
#include "fakes/fake_service_control.h"
#include "fakes/fake_service_runtime.h"
#include "fakes/fake_system.h"
#include "monitor_stub.h"
#include "service/service.h"

namespace {

// Written here as text, apart from the escaped bytes in the program.
const std::string kHelp =
    "-help, -?: 해당 도움말을 보여준다.\n\n"
    "-install: 서비스를 인스톨할 때 사용한다.\n"
    "-uninstall: 서비스를 언인톨할 때 사용한다. \n"
    "-start: 서비스를 시작 시킨다. \n"
    "-stop: 서비스를 중지 시킨다. \n";
const std::string kNotInstalled =
    "The specified service does not exist as an installed service.\r\n\n";
const std::string kExists = "The specified service already exists.\r\n\n";

struct Outcome {
  std::uint32_t exitCode;
  std::string output;
};

class AppTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::ServiceControl().Reset();
    fakes::Console().Reset();
    fakes::ServiceRuntime().Reset();
    fakes::System().Reset();
    stub::Monitor().Reset();
    // A fresh process: the settings are filled again.
    settingsInitialized = 0;
  }

  static Outcome Run(const std::vector<std::wstring>& switches) {
    std::vector<std::wstring> texts = {L"C:\\QUENTAR\\didurozir.exe"};
    texts.insert(texts.end(), switches.begin(), switches.end());
    std::vector<wchar_t*> arguments;
    for (std::wstring& text : texts) arguments.push_back(&text[0]);
    arguments.push_back(nullptr);
    ::testing::internal::CaptureStdout();
    const std::uint32_t exitCode =
        RunEntryPoint(static_cast<int>(texts.size()), arguments.data());
    return {exitCode, ::testing::internal::GetCapturedStdout()};
  }

  fakes::ServiceControlFake& scm() { return fakes::ServiceControl(); }
  fakes::ServiceRuntimeFake& runtime() { return fakes::ServiceRuntime(); }
  fakes::SystemFake& system() { return fakes::System(); }
};

// Help, or an invalid argument anywhere: the run ends before any operation.
struct RefusedCase {
  std::vector<std::wstring> switches;
  std::string output;
};

class RefusedTest : public AppTest,
                    public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedTest, PrintsAndEndsWithoutAnyOperation) {
  const Outcome outcome = Run(GetParam().switches);
  EXPECT_EQ(outcome.exitCode, 0xFFFFFFFFu);
  EXPECT_EQ(outcome.output, GetParam().output);
  EXPECT_TRUE(scm().calls.empty());
  EXPECT_EQ(runtime().dispatcherCalls, 0);
  EXPECT_EQ(stub::Monitor().loads, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Switches, RefusedTest,
    ::testing::Values(
        RefusedCase{{L"-help"}, kHelp}, RefusedCase{{L"/help"}, kHelp},
        RefusedCase{{L"-HeLp"}, kHelp}, RefusedCase{{L"-?"}, kHelp},
        RefusedCase{{L"/?"}, kHelp},
        RefusedCase{{L"-install", L"-help"}, kHelp},
        RefusedCase{{L"-help", L"-bogus"}, kHelp},
        RefusedCase{{L"-uninstall", L"/?", L"-stop"}, kHelp},
        RefusedCase{{L"install"}, "Invalid Value: install\n"},
        RefusedCase{{L"-"}, "Invalid Value: -\n"},
        RefusedCase{{L"/"}, "Invalid Value: /\n"},
        RefusedCase{{L""}, "Invalid Value: \n"},
        RefusedCase{{L"--install"}, "Invalid Value: --install\n"},
        RefusedCase{{L"-install "}, "Invalid Value: -install \n"},
        RefusedCase{{L"-installs"}, "Invalid Value: -installs\n"},
        RefusedCase{{L"-consolestart2"}, "Invalid Value: -consolestart2\n"},
        RefusedCase{{L"\\install"}, "Invalid Value: \\install\n"},
        RefusedCase{{L"-install", L"-frobnicate"},
                    "Invalid Value: -frobnicate\n"},
        RefusedCase{{L"-bogus", L"-help"}, "Invalid Value: -bogus\n"},
        RefusedCase{{L"-start", L"stop"}, "Invalid Value: stop\n"},
        // Only ASCII letters fold: a dotless i is not an i.
        RefusedCase{{L"-\u0131nstall"}, "Invalid Value: -?nstall\n"},
        RefusedCase{{L"-gr\u00fc\u00dfe"}, "Invalid Value: -gr??e\n"}));

// A management switch runs its operation once and reports; exit 0 either way.
struct OperationCase {
  const char* what;
  std::vector<std::wstring> switches;
  bool installed;
  std::uint32_t state;
  std::string output;
  bool installedAfter;
  std::uint32_t stateAfter;
};

void PrintTo(const OperationCase& c, std::ostream* out) { *out << c.what; }

class OperationTest : public AppTest,
                      public ::testing::WithParamInterface<OperationCase> {};

TEST_P(OperationTest, RunsTheSmallestModeAndReports) {
  const OperationCase& c = GetParam();
  if (c.installed) scm().AddService(L"didurozir", c.state);

  const Outcome outcome = Run(c.switches);

  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.output, c.output);
  EXPECT_EQ(scm().Has(L"didurozir"), c.installedAfter);
  if (c.installedAfter) {
    EXPECT_EQ(scm().services.at(L"didurozir").state, c.stateAfter);
  }
  EXPECT_LE(scm().calls[fakes::ScCall::kCreate], 1);
  EXPECT_LE(scm().calls[fakes::ScCall::kStart], 1);
  EXPECT_EQ(runtime().dispatcherCalls, 0);
  EXPECT_EQ(scm().HandleProblems(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Switches, OperationTest,
    ::testing::Values(OperationCase{"install",
                                    {L"-install"},
                                    false,
                                    1,
                                    "Install: [didurozir] Success\n",
                                    true,
                                    1},
                      OperationCase{"install with a slash",
                                    {L"/install"},
                                    false,
                                    1,
                                    "Install: [didurozir] Success\n",
                                    true,
                                    1},
                      OperationCase{"install in capitals",
                                    {L"-INSTALL"},
                                    false,
                                    1,
                                    "Install: [didurozir] Success\n",
                                    true,
                                    1},
                      OperationCase{"install in mixed case",
                                    {L"/InStAlL"},
                                    false,
                                    1,
                                    "Install: [didurozir] Success\n",
                                    true,
                                    1},
                      OperationCase{"install twice",
                                    {L"-install", L"/install"},
                                    false,
                                    1,
                                    "Install: [didurozir] Success\n",
                                    true,
                                    1},
                      OperationCase{"install, existing",
                                    {L"-install"},
                                    true,
                                    4,
                                    "Install: [didurozir] " + kExists,
                                    true,
                                    4},
                      OperationCase{"install then uninstall",
                                    {L"-install", L"-uninstall"},
                                    true,
                                    1,
                                    "Uninstall: [didurozir] Success\n",
                                    false,
                                    0},
                      OperationCase{"uninstall then install",
                                    {L"-uninstall", L"-install"},
                                    false,
                                    1,
                                    "Uninstall: [didurozir] " + kNotInstalled,
                                    false,
                                    0},
                      OperationCase{"uninstall a running service",
                                    {L"/uninstall"},
                                    true,
                                    4,
                                    "Uninstall: [didurozir] Success\n",
                                    false,
                                    0},
                      OperationCase{"start",
                                    {L"-start"},
                                    true,
                                    1,
                                    "Start: [didurozir] Success\n",
                                    true,
                                    4},
                      OperationCase{"start, missing",
                                    {L"-start"},
                                    false,
                                    1,
                                    "Start: [didurozir] " + kNotInstalled,
                                    false,
                                    0},
                      OperationCase{
                          "start, paused",
                          {L"-start"},
                          true,
                          7,
                          "Start: [didurozir] An instance of the service is "
                          "already running.\r\n\n",
                          true,
                          7},
                      OperationCase{"start and stop",
                                    {L"-start", L"-stop"},
                                    true,
                                    4,
                                    "Stop: [didurozir] Success\n",
                                    true,
                                    1},
                      OperationCase{"stop and start",
                                    {L"-stop", L"-start"},
                                    true,
                                    4,
                                    "Stop: [didurozir] Success\n",
                                    true,
                                    1},
                      OperationCase{"stop, stopped",
                                    {L"/Stop"},
                                    true,
                                    1,
                                    "Stop: [didurozir] Success\n",
                                    true,
                                    1},
                      OperationCase{"stop, missing",
                                    {L"/Stop"},
                                    false,
                                    1,
                                    "Stop: [didurozir] " + kNotInstalled,
                                    false,
                                    0},
                      OperationCase{"uninstall wins over stop",
                                    {L"-stop", L"-uninstall"},
                                    true,
                                    4,
                                    "Uninstall: [didurozir] Success\n",
                                    false,
                                    0},
                      OperationCase{"install wins over console start",
                                    {L"-consoleStart", L"-install"},
                                    false,
                                    1,
                                    "Install: [didurozir] Success\n",
                                    true,
                                    1}));

// The package's switches report as the documented ones do, but exit with the
// operation's code, which Windows Installer checks; the documented switches
// keep exit code 0 for the same outcome; any documented switch wins.
struct ExitCodeCase {
  const char* what;
  std::vector<std::wstring> switches;
  const wchar_t* registeredPath;  // null: no service
  std::uint32_t exitCode;
  std::string output;
};

class ExitCodeTest : public AppTest,
                     public ::testing::WithParamInterface<ExitCodeCase> {};

TEST_P(ExitCodeTest, PackageSwitchesExitWithTheResult) {
  const ExitCodeCase& c = GetParam();
  if (c.registeredPath != nullptr) {
    scm().AddService(L"didurozir", 1).binaryPathName = c.registeredPath;
  }
  const Outcome outcome = Run(c.switches);
  EXPECT_EQ(outcome.exitCode, c.exitCode) << c.what;
  EXPECT_EQ(outcome.output, c.output) << c.what;
  EXPECT_EQ(scm().HandleProblems(), "");
}

constexpr const wchar_t* kOwnPath = L"C:\\QUENTAR\\didurozir.exe";
constexpr const wchar_t* kOtherPath = L"D:\\tools\\didurozir.exe";

INSTANTIATE_TEST_SUITE_P(
    Package, ExitCodeTest,
    ::testing::Values(ExitCodeCase{"install over another's",
                                   {L"-install"},
                                   kOtherPath,
                                   0,
                                   "Install: [didurozir] " + kExists},
                      ExitCodeCase{"package install over another's",
                                   {L"-packageInstall"},
                                   kOtherPath,
                                   1073,
                                   "Install: [didurozir] " + kExists},
                      ExitCodeCase{"package install over its own",
                                   {L"/PACKAGEINSTALL"},
                                   kOwnPath,
                                   0,
                                   "Install: [didurozir] Success\n"},
                      ExitCodeCase{"uninstall of none",
                                   {L"-uninstall"},
                                   nullptr,
                                   0,
                                   "Uninstall: [didurozir] " + kNotInstalled},
                      ExitCodeCase{"package uninstall of none",
                                   {L"-packageUninstall"},
                                   nullptr,
                                   0,
                                   "Uninstall: [didurozir] Success\n"},
                      ExitCodeCase{"package stop of none",
                                   {L"-packageStop"},
                                   nullptr,
                                   0,
                                   "Stop: [didurozir] Success\n"},
                      ExitCodeCase{"package undo of another's",
                                   {L"-packageUndoInstall"},
                                   kOtherPath,
                                   0,
                                   "Uninstall: [didurozir] Success\n"},
                      ExitCodeCase{"a documented switch wins",
                                   {L"-packageInstall", L"-start"},
                                   nullptr,
                                   0,
                                   "Start: [didurozir] " + kNotInstalled}));

TEST_F(AppTest, RegistersUnderTheFixedIdentity) {
  system().moduleFileName = L"C:\\Program Files\\Tools\\renamed copy.exe";
  ASSERT_EQ(Run({L"-install"}).exitCode, 0u);
  ASSERT_TRUE(scm().Has(L"didurozir"));
  const fakes::FakeService& service = scm().services.at(L"didurozir");
  EXPECT_EQ(service.displayName, L"QUENTAR Agent Monitor");
  EXPECT_EQ(service.description, L"QUENTAR Agent Monitor");
  EXPECT_EQ(service.binaryPathName,
            L"\"C:\\Program Files\\Tools\\renamed copy.exe\"");
  EXPECT_EQ(system().dllSearchRestrictions, 1);
}

TEST_F(AppTest, ATimeoutIsReportedInTheSystemsWords) {
  scm().AddService(L"didurozir", 4).stateAfterStop = 3;
  const Outcome outcome = Run({L"-stop"});
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.output,
            "Stop: [didurozir] The wait operation timed out.\r\n\n");
  EXPECT_EQ(system().sleeps.size(), 29u);
}

TEST_F(AppTest, ACodeWithoutSystemTextIsStillNamed) {
  system().messages.clear();
  scm().Fail(fakes::ScCall::kOpenManager, 5);
  const Outcome outcome = Run({L"-start"});
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.output.rfind("Start: [didurozir] Error 6 ", 0), 0u)
      << outcome.output;
}

// Without a management switch the program is the service: dispatched, or run
// in the foreground when asked to in a console.
struct DispatchCase {
  const char* what;
  std::vector<std::wstring> switches;
  bool hasConsole;
  bool dispatcherFails;
  std::uint32_t exitCode;
  bool dispatched;
};

void PrintTo(const DispatchCase& c, std::ostream* out) { *out << c.what; }

class DispatchTest : public AppTest,
                     public ::testing::WithParamInterface<DispatchCase> {};

TEST_P(DispatchTest, ChoosesBetweenDispatcherAndConsole) {
  const DispatchCase& c = GetParam();
  scm().AddService(L"didurozir", 1);
  system().hasConsole = c.hasConsole;
  // Ends a console run; the service body takes the budget's end for a
  // failure and returns 1064, which becomes the exit code.
  system().sleepBudget = 2;
  runtime().failDispatcher = c.dispatcherFails;

  const Outcome outcome = Run(c.switches);

  EXPECT_EQ(outcome.exitCode, c.exitCode);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(runtime().dispatcherCalls, c.dispatched ? 1 : 0);
  if (c.dispatched) {
    EXPECT_EQ(runtime().dispatchedName, L"didurozir");
    EXPECT_EQ(runtime().dispatchedMain, &ServiceMain);
    EXPECT_EQ(stub::Monitor().starts, 0);
  } else {
    // The console run: the service body in the foreground, unregistered.
    EXPECT_EQ(stub::Monitor().starts, 1);
    EXPECT_EQ(runtime().registrations, 0);
    EXPECT_EQ(system().sleeps.size(), 2u);
  }
  EXPECT_EQ(scm().calls[fakes::ScCall::kStart], 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, DispatchTest,
    ::testing::Values(DispatchCase{"no switch, not started by the manager",
                                   {},
                                   true,
                                   true,
                                   0xFFFFFFFF,
                                   true},
                      DispatchCase{
                          "no switch, as a service", {}, false, false, 0, true},
                      DispatchCase{"console start without a console",
                                   {L"-consoleStart"},
                                   false,
                                   true,
                                   0xFFFFFFFF,
                                   true},
                      DispatchCase{"console start in a console",
                                   {L"-CONSOLESTART"},
                                   true,
                                   false,
                                   1064,
                                   false},
                      DispatchCase{"console start wins over start",
                                   {L"-start", L"/consoleStart"},
                                   true,
                                   false,
                                   1064,
                                   false}));

// The whole life of the service under the dispatcher: start, a stop from the
// manager, and the exit.
TEST_F(AppTest, RunsAsAServiceUntilStopped) {
  scm().AddService(L"didurozir", 1);
  runtime().duringDispatch = [] {
    fakes::ServiceRuntime().dispatchedMain(1, nullptr);
  };
  system().onSleep = [] {
    if (fakes::System().sleeps.size() == 2) {
      fakes::ServiceRuntime().SendControl(kControlStop);
    }
  };
  const Outcome outcome = Run({});
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(runtime().registeredName, L"didurozir");
  EXPECT_EQ(runtime().AcceptedStates(),
            (std::vector<std::uint32_t>{2, 2, 2, 4, 3, 1}));
  EXPECT_EQ(stub::Monitor().starts, 1);
  EXPECT_EQ(stub::Monitor().stopRequests, 1);
  EXPECT_EQ(system().sleeps, (std::vector<std::uint32_t>{500, 500}));
  // Once stopped, the process waits 5 s at most for the monitor's record.
  EXPECT_EQ(stub::Monitor().endWaits, (std::vector<std::uint32_t>{5000}));
  EXPECT_EQ(stub::Monitor().reportsBeforeEndWait,
            (std::vector<std::size_t>{runtime().reports.size()}));
}

// The dispatcher returns as soon as the service reports itself stopped, and
// the process ends when the entry point returns: a control handler still at
// work (writing its event after the report) must finish first.
TEST_F(AppTest, WaitsForARunningControlHandlerBeforeItReturns) {
  std::promise<void> entered;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> handlerDone{false};
  std::thread handler;
  stub::Monitor().onStopRequest = [&] {
    entered.set_value();
    released.wait();
  };
  runtime().duringDispatch = [&] {
    handler = std::thread([&] {
      ServiceCtrlHandler(kControlStop, 0, nullptr, nullptr);
      handlerDone = true;
    });
    entered.get_future().wait();
  };
  bool doneAtFirstPoll = true;
  system().onSleep = [&] {
    if (fakes::System().sleeps.size() != 1) return;
    doneAtFirstPoll = handlerDone;
    release.set_value();
    handler.join();
  };

  const Outcome outcome = Run({});

  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_FALSE(doneAtFirstPoll);
  EXPECT_TRUE(handlerDone);
  EXPECT_EQ(system().sleeps, (std::vector<std::uint32_t>{50}));
  if (handler.joinable()) {  // the entry point did not wait: free the thread
    release.set_value();
    handler.join();
  }
}

// In a console the same texts go to the console as what they are, UTF-8 for
// the help and the ANSI code page for the rest; nothing goes to the stream.
TEST_F(AppTest, AConsoleGetsTheSameTextsWithTheirEncodings) {
  using platform::Encoding;
  fakes::Console().isConsole = true;
  const struct {
    std::vector<std::wstring> switches;
    std::string text;
    Encoding encoding;
  } cases[] = {
      {{L"-help"}, kHelp, Encoding::kUtf8},
      {{L"-bogus"}, "Invalid Value: -bogus\n", Encoding::kAnsi},
      {{L"-stop"},
       "Stop: [didurozir] The specified service does not exist as an "
       "installed service.\r\n\n",
       Encoding::kAnsi},
  };
  for (const auto& c : cases) {
    fakes::Console().written.clear();
    EXPECT_EQ(Run(c.switches).output, "");
    std::string text;
    for (const auto& [piece, encoding] : fakes::Console().written) {
      text += piece;
      EXPECT_EQ(encoding, c.encoding) << piece;
    }
    EXPECT_EQ(text, c.text);
  }
}
// A renamed executable still registers the fixed service, and the event
// source under the service's name, the one its events are written under; the
// display name is for people only.
TEST_F(AppTest, InstallRegistersTheFixedNamesWithTheirEventSource) {
  fakes::EventLog().Reset();
  system().moduleFileName = L"C:\\QUENTAR\\watchdog 2.exe";
  const Outcome outcome = Run({L"-install"});
  EXPECT_EQ(outcome.output, "Install: [didurozir] Success\n");
  ASSERT_TRUE(scm().Has(L"didurozir"));
  const fakes::FakeService& service = scm().services.at(L"didurozir");
  EXPECT_EQ(service.displayName, L"QUENTAR Agent Monitor");
  EXPECT_EQ(service.description, L"QUENTAR Agent Monitor");
  EXPECT_EQ(service.binaryPathName, L"\"C:\\QUENTAR\\watchdog 2.exe\"");
  const std::map<std::wstring, std::wstring> sources = {
      {L"didurozir", L"C:\\QUENTAR\\didurozir-messages.dll"}};
  EXPECT_EQ(fakes::EventLog().sources, sources);

  EXPECT_EQ(Run({L"-uninstall"}).output, "Uninstall: [didurozir] Success\n");
  EXPECT_TRUE(fakes::EventLog().sources.empty());
}

}  // namespace

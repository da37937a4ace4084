// The -check dry run through the entry point, against the emulated system:
// its exit code for each state, the lines an administrator reads, and that it
// never runs a command or writes an event.
#include "check/check.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app/app.h"
#include "events/events.h"
#include "fakes/fakes.h"
#include "service/service.h"

namespace {

namespace fs = boost::filesystem;

const std::wstring kServiceKey =
    L"SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
const std::wstring kProductKey = L"SOFTWARE\\QUENTAR\\Agent";
const std::string kServiceKeyText =
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
const fakes::FakeProcess kAgent{L"riduvuruz.exe", 500};

// A netstat -ano listing: one row per (port, PID text, state).
std::string Listing(const std::vector<std::vector<std::string>>& rows) {
  std::string text =
      "\nActive Connections\n\n  Proto  Local Address          Foreign "
      "Address        State           PID\n";
  for (const auto& row : rows) {
    text += "  TCP    0.0.0.0:" + row[0] +
            "           0.0.0.0:0              " +
            (row.size() > 2 ? row[2] : "LISTENING") + "       " + row[1] + "\n";
  }
  return text;
}

struct Outcome {
  std::uint32_t exitCode;
  std::vector<std::string> lines;
};

class CheckTest : public ::testing::Test {
 public:
  void WriteConf(const std::string& content) {
    std::ofstream((confDir_ / "server.conf").string(), std::ios::binary)
        << content;
  }
  std::string ConfPath() const { return (confDir_ / "server.conf").string(); }

 protected:
  void SetUp() override {
    fakes::ResetAll();
    events::ResetRecord();
    settingsInitialized = 0;
    confDir_ = fs::temp_directory_path() /
               fs::unique_path("didurozir-check-%%%%-%%%%-%%%%");
    fs::create_directories(confDir_);
    // A healthy machine: the agent installed, configured and running; a
    // listing that names no watched port.
    fakes::Registry().keys[kServiceKey][L"ImagePath"] =
        L"C:\\Agent\\riduvuruz.exe";
    fakes::Registry().keys[kProductKey][L"configPath"] =
        std::wstring(confDir_.wstring());
    WriteConf(R"({"listening_ports": "4901", "ssl_port": 4903})");
    fakes::ProcessList().processes = {{L"System", 4}, kAgent};
    fakes::Pipe().output = Listing({{"80", "884"}});
  }

  void TearDown() override {
    boost::system::error_code ignored;
    fs::remove_all(confDir_, ignored);
  }

  // Runs `didurozir.exe <switches>` and checks what no dry run may do.
  Outcome Run(std::vector<std::wstring> switches = {L"-check"}) {
    std::vector<std::wstring> texts = {L"C:\\QUENTAR\\didurozir.exe"};
    texts.insert(texts.end(), switches.begin(), switches.end());
    std::vector<wchar_t*> arguments;
    for (std::wstring& text : texts) arguments.push_back(&text[0]);
    arguments.push_back(nullptr);
    ::testing::internal::CaptureStdout();
    Outcome outcome;
    outcome.exitCode =
        RunEntryPoint(static_cast<int>(texts.size()), arguments.data());
    std::istringstream output(::testing::internal::GetCapturedStdout());
    for (std::string line; std::getline(output, line);) {
      outcome.lines.push_back(line);
    }

    EXPECT_TRUE(fakes::Command().commands.empty())
        << "a dry run ran " << fakes::Command().commands.front();
    EXPECT_TRUE(fakes::EventLog().events.empty()) << "a dry run wrote events";
    EXPECT_EQ(fakes::Pipe().commands, std::vector<std::string>{"netstat -ano"});
    EXPECT_EQ(fakes::ProcessHandles().OpenNow(), 0);
    EXPECT_EQ(fakes::ProcessList().opened, fakes::ProcessList().closed);
    EXPECT_EQ(fakes::Registry().opened, fakes::Registry().closed);
    EXPECT_EQ(fakes::ServiceControl().HandleProblems(), "");
    EXPECT_EQ(fakes::ServiceControl().calls[fakes::ScCall::kStart], 0);
    EXPECT_EQ(fakes::ServiceControl().calls[fakes::ScCall::kControl], 0);
    EXPECT_EQ(fakes::ServiceControl().calls[fakes::ScCall::kDelete], 0);
    return outcome;
  }

  // The lines that begin with `what : `, without that.
  static std::vector<std::string> Lines(const Outcome& outcome,
                                        const std::string& what) {
    std::vector<std::string> found;
    const std::string prefix = what + " : ";
    for (const std::string& line : outcome.lines) {
      if (line.compare(0, prefix.size(), prefix) == 0) {
        found.push_back(line.substr(prefix.size()));
      }
    }
    return found;
  }

  fs::path confDir_;
};

// Each state of the machine with its exit code and the line that says why.
struct StateCase {
  const char* name;
  void (*arrange)(CheckTest*);
  std::uint32_t exitCode;
  const char* what;  // the line's label
  std::string text;  // the line's text; "{conf}" for server.conf's path
};

void PrintTo(const StateCase& c, std::ostream* out) { *out << c.name; }

class CheckStateTest : public CheckTest,
                       public ::testing::WithParamInterface<StateCase> {};

TEST_P(CheckStateTest, ExitCodeAndLine) {
  const StateCase& c = GetParam();
  c.arrange(this);

  const Outcome outcome = Run();

  EXPECT_EQ(outcome.exitCode, c.exitCode);
  std::string text = c.text;
  const std::size_t conf = text.find("{conf}");
  if (conf != std::string::npos) text.replace(conf, 6, ConfPath());
  EXPECT_EQ(Lines(outcome, c.what), std::vector<std::string>{text});
  ASSERT_FALSE(outcome.lines.empty());
  EXPECT_EQ(outcome.lines.front(),
            "Check: [didurozir] a dry run: nothing is killed, started or "
            "recorded");
  EXPECT_EQ(outcome.lines.back().rfind(
                "result : " + std::to_string(c.exitCode) + " (", 0),
            0u)
      << outcome.lines.back();
}

INSTANTIATE_TEST_SUITE_P(
    States, CheckStateTest,
    ::testing::Values(
        StateCase{"healthy", [](CheckTest*) {}, 0, "result",
                  "0 (nothing is wrong)"},
        StateCase{"conf_absent",
                  [](CheckTest* t) { fs::remove(fs::path(t->ConfPath())); }, 0,
                  "server.conf", "absent: {conf}"},
        StateCase{"agent_key_missing",
                  [](CheckTest*) {
                    fakes::Registry().keys.erase(kServiceKey);
                    fakes::ProcessList().processes = {{L"System", 4}};
                  },
                  check::kAgentNotInstalled, "agent ImagePath",
                  "none: " + kServiceKeyText + " does not exist"},
        StateCase{"image_path_missing",
                  [](CheckTest*) {
                    fakes::Registry().keys[kServiceKey].clear();
                    fakes::ProcessList().processes = {{L"System", 4}};
                  },
                  check::kAgentNotInstalled, "agent ImagePath",
                  "none: " + kServiceKeyText +
                      " has no ImagePath, or one longer than 259 characters"},
        StateCase{
            "agent_key_denied",
            [](CheckTest*) { fakes::Registry().openErrors[kServiceKey] = 5; },
            check::kIncomplete, "agent ImagePath",
            "cannot tell: this account may not read " + kServiceKeyText +
                " (error 5)"},
        StateCase{"conf_unparsable",
                  [](CheckTest* t) { t->WriteConf(R"({"ssl_port": 443,})"); },
                  check::kServerConfUnusable, "server.conf",
                  "unusable: {conf}: it is not valid JSON: Missing a name for "
                  "object member. (at byte offset 17)"},
        StateCase{"conf_existence_unknown",
                  [](CheckTest*) { fakes::File().existenceError = 21; },
                  check::kServerConfUnusable, "server.conf",
                  "unusable: {conf}: the system could not tell whether it "
                  "exists (system error 21)"},
        StateCase{"conf_root_array",
                  [](CheckTest* t) { t->WriteConf(R"(["ssl_port", 443])"); },
                  check::kServerConfUnusable, "server.conf",
                  "unusable: {conf}: its root is not a JSON object"},
        StateCase{"conf_unreadable",
                  [](CheckTest*) { fakes::File().failOpen = true; },
                  check::kServerConfUnusable, "server.conf",
                  "unusable: {conf}: it cannot be opened for reading (this "
                  "account may lack the right to read it, another program may "
                  "lock it, or it is no file)"},
        StateCase{"agent_not_running",
                  [](CheckTest*) {
                    fakes::ProcessList().processes = {{L"System", 4},
                                                      {L"RIDUVURUZ.EXE", 501}};
                  },
                  check::kAgentNotRunning, "agent",
                  "not running: no process has the image name riduvuruz.exe"},
        StateCase{"process_list_unreadable",
                  [](CheckTest*) { fakes::ProcessList().failSnapshot = true; },
                  check::kIncomplete, "agent",
                  "cannot tell: the process list cannot be read"},
        StateCase{"no_listing",
                  [](CheckTest*) { fakes::Pipe().failOpen = true; },
                  check::kIncomplete, "holders",
                  "cannot tell: netstat -ano gave no TCP listing"},
        // Memory running out while the holders are told: what came before
        // is no clean bill.
        StateCase{"fails_part_way",
                  [](CheckTest*) {
                    fakes::Console().onWrite = [](std::string_view text) {
                      if (text.rfind("holders", 0) == 0) throw std::bad_alloc();
                    };
                  },
                  check::kIncomplete, "result",
                  "16 (the check could not be completed)"},
        StateCase{"several_at_once",
                  [](CheckTest* t) {
                    t->WriteConf("[]");
                    fakes::ProcessList().processes = {{L"System", 4}};
                    fakes::Pipe().failOpen = true;
                  },
                  check::kServerConfUnusable | check::kAgentNotRunning |
                      check::kIncomplete,
                  "result",
                  "26 (server.conf is unusable, the agent is not running, "
                  "something could not be read)"}),
    [](const ::testing::TestParamInfo<StateCase>& info) {
      return std::string(info.param.name);
    });

TEST_F(CheckTest, ListsThePortsWithTheirOrigins) {
  WriteConf(R"({"listening_ports": "4033,4901, 4902", "ssl_port": "4901"})");
  const Outcome outcome = Run();
  EXPECT_EQ(Lines(outcome, "watched port"),
            (std::vector<std::string>{
                " 4902 (listening_ports)", "36039 (built-in)",
                "36523 (built-in)", "4033 (built-in, listening_ports)",
                "4044 (built-in)", "4045 (built-in)", "4046 (built-in)",
                "4523 (built-in)", "4524 (built-in)", "4525 (built-in)",
                "4526 (built-in)", "4901 (listening_ports, ssl_port)"}));
  EXPECT_EQ(outcome.exitCode, 0u);
}

// The holders of one listing, and for each PID the verdict a recovery would
// reach now, with the recovery's own reasons.
TEST_F(CheckTest, ListsHoldersAndWhatARecoveryWouldDoWithThem) {
  // The watchdog's service runs as 7000: its PID is its own, not this run's.
  fakes::ServiceControl().AddService(L"didurozir", 4).processId = 7000;
  fakes::ProcessList().processes = {
      {L"System", 4},           kAgent,
      {L"a.exe", 1200},         {L"b.exe", 344},
      {L"didurozir.exe", 7000}, {L"young.exe", 900},
      {L"locked.exe", 910}};
  fakes::ProcessHandles().now = 1000;
  fakes::ProcessHandles().facts[900].creationTime = 2000;
  fakes::ProcessHandles().facts[910].refuseOpen = true;
  fakes::Pipe().output = Listing({{"4033", "1200"},
                                  {"36039", "1200"},
                                  {"4901", "344"},
                                  {"4033", "0", "TIME_WAIT"},
                                  {"4044", "7000"},
                                  {"4045", "900"},
                                  {"4046", "4"},
                                  {"4523", "910"},
                                  {"5555", "42"}});

  const Outcome outcome = Run();

  EXPECT_EQ(Lines(outcome, "watchdog service"),
            std::vector<std::string>{"didurozir runs as PID 7000"});
  EXPECT_EQ(Lines(outcome, "agent"),
            std::vector<std::string>{"running as PID 500"});
  EXPECT_EQ(
      Lines(outcome, "holder"),
      (std::vector<std::string>{
          "PID 0 (not in the process list) port 4033",
          "PID 1200 (a.exe) port 36039", "PID 1200 (a.exe) port 4033",
          "PID 344 (b.exe) port 4901", "PID 4 (System) port 4046",
          "PID 7000 (didurozir.exe) port 4044", "PID 900 (young.exe) port 4045",
          "PID 910 (locked.exe) port 4523"}));
  EXPECT_EQ(Lines(outcome, "would kill"),
            (std::vector<std::string>{
                "PID 1200 (a.exe)", "PID 344 (b.exe)",
                "PID 910 (locked.exe); this account may not open the process, "
                "so the checks that could spare it were not made"}));
  EXPECT_EQ(Lines(outcome, "would not kill"),
            (std::vector<std::string>{
                "PID 0 (PID 0 is no process: a socket without an owner)",
                "PID 4 (PID 4 is the System process: its ports are the "
                "kernel's)",
                "PID 7000 (the watchdog's own process)",
                "PID 900 (created after the netstat listing began: not the "
                "process it showed)"}));
  // Holders are no fault: a recovery runs only without the agent.
  EXPECT_EQ(outcome.exitCode, 0u);
}

// The state in which the service would recover now: still no kill and no
// start command, only the verdicts.
TEST_F(CheckTest, AMissingAgentWithHoldersRunsNoCommand) {
  fakes::ProcessList().processes = {{L"System", 4}, {L"a.exe", 1200}};
  fakes::Pipe().output = Listing({{"4901", "1200"}});
  const Outcome outcome = Run();
  EXPECT_EQ(outcome.exitCode, check::kAgentNotRunning);
  EXPECT_EQ(Lines(outcome, "would kill"),
            std::vector<std::string>{"PID 1200 (a.exe)"});
  EXPECT_EQ(fakes::ProcessList().processes.size(), 2u);
}

// Anyone may write server.conf: a finding, and bit 4 until it is repaired.
TEST_F(CheckTest, TrustFindingsAreListedAndSetTheirBit) {
  fakes::Security().files[ConfPath()] =
      fakes::ParseSddl("O:SYD:(A;;FA;;;SY)(A;;0x1301ff;;;WD)");
  Outcome outcome = Run();
  EXPECT_EQ(outcome.exitCode, check::kTrustFindings);
  const std::vector<std::string> findings = Lines(outcome, "finding");
  ASSERT_EQ(findings.size(), 1u);
  EXPECT_EQ(findings[0].rfind(ConfPath() + ": ", 0), 0u) << findings[0];
  EXPECT_TRUE(Lines(outcome, "trust audit").empty());
  EXPECT_EQ(Lines(outcome, "result"),
            std::vector<std::string>{"4 (the trust audit has findings)"});

  fakes::Security().files[ConfPath()] =
      fakes::ParseSddl("O:SYD:(A;;FA;;;SY)(A;;0x1200a9;;;WD)");
  fakes::Pipe().commands.clear();
  outcome = Run();
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_EQ(Lines(outcome, "trust audit"),
            std::vector<std::string>{"no findings"});
}

TEST_F(CheckTest, NamesTheWatchdogServiceState) {
  const struct {
    bool installed;
    std::uint32_t processId;
    std::string text;
  } cases[] = {
      {false, 0, "didurozir is not installed"},
      {true, 0, "didurozir is installed, not running"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    fakes::ServiceControl().Reset();
    if (c.installed) fakes::ServiceControl().AddService(L"didurozir", 1);
    fakes::Pipe().commands.clear();
    const Outcome outcome = Run();
    EXPECT_EQ(Lines(outcome, "watchdog service"),
              std::vector<std::string>{c.text});
    EXPECT_EQ(outcome.exitCode, 0u);
  }
}

// -check wins over every operation on the line; help and invalid arguments
// still end the run before it.
TEST_F(CheckTest, WinsOverEveryOperation) {
  fakes::ServiceControl().AddService(L"didurozir", 4);
  for (const std::vector<std::wstring>& switches :
       std::vector<std::vector<std::wstring>>{{L"-uninstall", L"-check"},
                                              {L"/CHECK", L"-install"},
                                              {L"-check", L"-stop"},
                                              {L"-packageUninstall", L"-Check"},
                                              {L"-consoleStart", L"-check"}}) {
    fakes::Pipe().commands.clear();
    const Outcome outcome = Run(switches);
    EXPECT_EQ(outcome.exitCode, 0u);
    EXPECT_EQ(Lines(outcome, "result"),
              std::vector<std::string>{"0 (nothing is wrong)"});
    EXPECT_TRUE(fakes::ServiceControl().Has(L"didurozir"));
    EXPECT_EQ(fakes::ServiceControl().services.at(L"didurozir").state, 4u);
    EXPECT_EQ(fakes::ServiceRuntime().dispatcherCalls, 0);
  }
}

TEST_F(CheckTest, HelpAndInvalidArgumentsStillComeFirst) {
  for (const auto& switches : std::vector<std::vector<std::wstring>>{
           {L"-check", L"-help"}, {L"-check", L"-bogus"}, {L"check"}}) {
    std::vector<std::wstring> texts = {L"C:\\QUENTAR\\didurozir.exe"};
    texts.insert(texts.end(), switches.begin(), switches.end());
    std::vector<wchar_t*> arguments;
    for (std::wstring& text : texts) arguments.push_back(&text[0]);
    ::testing::internal::CaptureStdout();
    const std::uint32_t exitCode =
        RunEntryPoint(static_cast<int>(texts.size()), arguments.data());
    const std::string output = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(exitCode, kExitRefused);
    EXPECT_EQ(output.find("Check:"), std::string::npos) << output;
    EXPECT_TRUE(fakes::Pipe().commands.empty());
  }
}

}  // namespace

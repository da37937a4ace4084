// One supervision cycle at a time, run on the test thread: the emulated sleep
// ends RunMonitor with the interruption a stop would deliver.
#include <gtest/gtest.h>

#include <algorithm>
#include <boost/filesystem/operations.hpp>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <map>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "events/events.h"
#include "fakes/fake_command.h"
#include "fakes/fake_console.h"
#include "fakes/fake_file.h"
#include "fakes/fake_pipe.h"
#include "fakes/fake_process_list.h"
#include "fakes/fake_security.h"
#include "fakes/fake_thread.h"
#include "fakes/fakes.h"
#include "monitor/monitor.h"
#include "platform/file.h"
#include "ports/ports.h"

namespace {

using Strings = std::vector<std::string>;
using Sleeps = std::vector<long long>;

const char kImagePath[] = "C:\\Agent\\riduvuruz.exe";
const char kStart[] = "C:\\Agent\\riduvuruz.exe -start";
const fakes::FakeProcess kAgent{L"riduvuruz.exe", 500};
const fakes::FakeProcess kSystem{L"System", 4};

// A netstat -ano listing with one listening row per (port, PID text).
std::string Listing(
    std::initializer_list<std::pair<std::string, std::string>> rows) {
  std::string text =
      "\nActive Connections\n\n  Proto  Local Address          Foreign "
      "Address        State           PID\n";
  for (const auto& row : rows) {
    text += "  TCP    0.0.0.0:" + row.first +
            "           0.0.0.0:0              LISTENING       " + row.second +
            "\n";
  }
  return text;
}

std::string Echo(const std::string& command) {
  return "command : " + command + "\n";
}

std::string Kill(const std::string& pid) { return "taskkill /F /pid " + pid; }

// What the stop handling does to a running monitor thread: the flag, then an
// interruption that the thread's next sleep delivers.
void RequestStopOnThisThread() {
  stopRequested = true;
  fakes::Thread().interruptionPending = true;
}

class SupervisionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::ResetAll();
    events::ResetRecord();
    AgentLocation.imagePath = kImagePath;
    AgentLocation.configDirectory.clear();
    stopRequested = false;
  }

  void TearDown() override {
    EXPECT_EQ(fakes::ProcessList().opened, fakes::ProcessList().closed);
    EXPECT_EQ(fakes::Pipe().opened, fakes::Pipe().closed);
    EXPECT_EQ(fakes::ProcessHandles().OpenNow(), 0);
    stopRequested = false;
  }

  // Processes that a kill command ends, unless they are in `survivors`.
  void KillEndsProcesses(std::set<std::uint32_t> survivors = {}) {
    fakes::Command().onRun = [survivors](const std::string& command) {
      const std::string prefix = "taskkill /F /pid ";
      if (command.compare(0, prefix.size(), prefix) != 0) return;
      const std::uint32_t pid =
          static_cast<std::uint32_t>(std::stoul(command.substr(prefix.size())));
      if (survivors.count(pid) != 0) return;
      auto& processes = fakes::ProcessList().processes;
      processes.erase(std::remove_if(processes.begin(), processes.end(),
                                     [pid](const fakes::FakeProcess& p) {
                                       return p.pid == pid;
                                     }),
                      processes.end());
    };
  }

  // Runs RunMonitor until sleep number `sleep` (counted from 1) is
  // interrupted, or until it returns; true when interrupted.
  bool RunUntilSleep(int sleep) {
    if (sleep > 0) fakes::Thread().interruptAtSleep = sleep;
    ::testing::internal::CaptureStdout();
    bool interrupted = false;
    try {
      RunMonitor();
    } catch (const boost::thread_interrupted&) {
      interrupted = true;
    } catch (...) {
      ADD_FAILURE() << "RunMonitor let an exception other than the "
                       "interruption out";
    }
    output_ = ::testing::internal::GetCapturedStdout();
    return interrupted;
  }

  Strings Commands() const { return fakes::Command().commands; }
  Sleeps SleepsTaken() const { return fakes::Thread().sleeps; }

  std::string output_;
};

TEST(MakeKillCommand, AppendsThePidUnchanged) {
  EXPECT_EQ(MakeKillCommand("884"), "taskkill /F /pid 884");
  EXPECT_EQ(MakeKillCommand(""), "taskkill /F /pid ");
}

TEST_F(SupervisionTest, RunningAgentCostsOneWalkAndOneSleepPerCycle) {
  fakes::ProcessList().processes = {kSystem, kAgent};
  fakes::Pipe().output = Listing({{"4033", "884"}});

  EXPECT_TRUE(RunUntilSleep(3));

  EXPECT_EQ(fakes::ProcessList().opened, 3);
  EXPECT_EQ(SleepsTaken(), (Sleeps{10000, 10000, 10000}));
  EXPECT_TRUE(Commands().empty());
  EXPECT_TRUE(fakes::Pipe().commands.empty());
  EXPECT_EQ(output_, "");
}

TEST_F(SupervisionTest, MissingAgentWithoutPortHoldersIsStartedAtOnce) {
  fakes::ProcessList().processes = {kSystem};
  fakes::Pipe().output = Listing({{"80", "884"}, {"40330", "885"}});

  EXPECT_TRUE(RunUntilSleep(1));

  EXPECT_EQ(fakes::Pipe().commands, Strings{"netstat -ano"});
  EXPECT_EQ(Commands(), Strings{kStart});
  EXPECT_EQ(SleepsTaken(), Sleeps{10000});
  EXPECT_EQ(output_, Echo(kStart));
}

TEST_F(SupervisionTest, UnreadableListingStillStartsTheAgent) {
  fakes::Pipe().failOpen = true;

  EXPECT_TRUE(RunUntilSleep(1));

  EXPECT_EQ(Commands(), Strings{kStart});
  EXPECT_EQ(SleepsTaken(), Sleeps{10000});
}

TEST_F(SupervisionTest, KillsHoldersInByteOrderEachEchoedAfterItEnded) {
  fakes::ProcessList().processes = {kSystem, {L"a.exe", 1200}, {L"b.exe", 344}};
  fakes::Pipe().output =
      Listing({{"4044", "344"}, {"4033", "1200"}, {"36039", "1200"}});
  KillEndsProcesses();
  const auto kill = fakes::Command().onRun;
  // The command's own output, with text that would derail a format string.
  fakes::Command().onRun = [kill](const std::string& command) {
    std::fputs(("<%s%n ran " + command + ">\n").c_str(), stdout);
    kill(command);
  };

  EXPECT_TRUE(RunUntilSleep(2));

  EXPECT_EQ(Commands(), (Strings{Kill("1200"), Kill("344"), kStart}));
  EXPECT_EQ(output_, "<%s%n ran " + Kill("1200") + ">\n" + Echo(Kill("1200")) +
                         "<%s%n ran " + Kill("344") + ">\n" +
                         Echo(Kill("344")) + "<%s%n ran " + kStart + ">\n" +
                         Echo(kStart));
  EXPECT_EQ(SleepsTaken(), (Sleeps{1000, 10000}));
  // The image test and the record's look at the names; the liveness checks
  // ask the held processes.
  EXPECT_EQ(fakes::ProcessList().opened, 2);
}

TEST_F(SupervisionTest, EachPidStillAliveCostsOneLongSleep) {
  const struct {
    std::set<std::uint32_t> survivors;
    Sleeps sleeps;
  } cases[] = {
      {{}, {1000, 10000}},
      {{344}, {1000, 10000, 10000}},
      {{344, 1200}, {1000, 10000, 10000, 10000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.survivors.size());
    SetUp();
    fakes::ProcessList().processes = {{L"a.exe", 1200}, {L"b.exe", 344}};
    fakes::Pipe().output = Listing({{"4033", "1200"}, {"4044", "344"}});
    KillEndsProcesses(c.survivors);

    EXPECT_TRUE(RunUntilSleep(static_cast<int>(c.sleeps.size())));

    EXPECT_EQ(SleepsTaken(), c.sleeps);
    EXPECT_EQ(Commands(), (Strings{Kill("1200"), Kill("344"), kStart}));
    EXPECT_EQ(fakes::ProcessList().opened, 2);
  }
}

TEST_F(SupervisionTest, EmptyImagePathStillRunsTheStartCommand) {
  AgentLocation.imagePath.clear();

  EXPECT_TRUE(RunUntilSleep(1));

  EXPECT_EQ(Commands(), Strings{" -start"});
  EXPECT_EQ(output_, "command :  -start\n");
}

TEST_F(SupervisionTest, ImagePathIsEchoedLiterally) {
  AgentLocation.imagePath = "C:\\100%s\\%n%d.exe";

  EXPECT_TRUE(RunUntilSleep(1));

  EXPECT_EQ(output_, "command : C:\\100%s\\%n%d.exe -start\n");
}

TEST_F(SupervisionTest, OnlyTheExactImageNameCountsAsTheAgent) {
  const struct {
    std::vector<fakes::FakeProcess> processes;
    bool recovers;
  } cases[] = {
      {{kAgent}, false},
      {{kSystem, {L"notepad.exe", 8}, kAgent}, false},
      {{}, true},
      {{{L"RIDUVURUZ.EXE", 500}}, true},
      {{{L"Riduvuruz.exe", 500}}, true},
      {{{L"riduvuruz.exe ", 500}}, true},
      {{{L"riduvuruz.ex", 500}}, true},
      {{{L"riduvuruz", 500}}, true},
      {{{L"xriduvuruz.exe", 500}}, true},
      {{{L"riduvuruz.exe.old", 500}}, true},
      {{{std::wstring(L"riduvuruz.exe\0x", 15), 500}}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.processes.size()) +
                 (c.recovers ? " recovers" : " runs"));
    SetUp();
    fakes::ProcessList().processes = c.processes;

    EXPECT_TRUE(RunUntilSleep(1));

    EXPECT_EQ(Commands(), c.recovers ? Strings{kStart} : Strings{});
  }
}

// Only plain decimal PIDs reach the command processor; PID 0 is no process.
// Each refusal is named in the record with its real reason.
TEST_F(SupervisionTest, OnlyPlainNonZeroDecimalPidsAreKilled) {
  const std::string kZero = "PID 0 is no process: a socket without an owner";
  const std::string kZeros =
      "PID 0 (written with leading zeros) is no process: a socket without an "
      "owner";
  const std::string kCharacter =
      "not a plain decimal PID: it holds a character other than the digits 0 "
      "to 9";
  const std::string kDigits = "not a plain decimal PID: more than 10 digits";
  const std::string kBits =
      "not a plain decimal PID: its value exceeds 32 bits";
  const struct {
    std::string text;
    std::string reason;  // empty: killed
  } cases[] = {
      {"344", ""},
      {"0344", ""},  // checked as PID 344
      {"4294967295", ""},
      {"0000000344", ""},
      {"0", kZero},
      {"00", kZeros},
      {"0000", kZeros},
      {"0000000000", kZeros},
      {"+344", kCharacter},
      {"-344", kCharacter},
      {"34a", kCharacter},
      {"0x158", kCharacter},
      {"344\r", kCharacter},
      {"344&calc", kCharacter},
      {"344|calc", kCharacter},
      {"\xd9\xa3", kCharacter},  // an Arabic-Indic digit
      {"4294967296", kBits},
      {"9999999999", kBits},
      {"00000000344", kDigits},
      {"99999999999", kDigits},
      {"00000000000", kDigits},
      {"", "not a plain decimal PID"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("PID text \"" + c.text + "\"");
    SetUp();
    const bool killed = c.reason.empty();
    // Alive after the kill: a killed PID also costs its liveness sleep.
    fakes::ProcessList().processes = {{L"holder.exe", 344},
                                      {L"max.exe", 4294967295u}};
    fakes::Pipe().output = Listing({{"4033", c.text}});
    const Sleeps sleeps = killed ? Sleeps{1000, 10000, 10000} : Sleeps{10000};

    EXPECT_TRUE(RunUntilSleep(static_cast<int>(sleeps.size())));

    EXPECT_EQ(Commands(),
              killed ? (Strings{Kill(c.text), kStart}) : Strings{kStart});
    EXPECT_EQ(SleepsTaken(), sleeps);
    ASSERT_EQ(fakes::EventLog().events.size(), 1u);
    EXPECT_EQ(fakes::EventLog().events[0].inserts[1],
              killed ? "none" : "\"" + c.text + "\" (" + c.reason + ")");
  }
}

TEST_F(SupervisionTest, PidZeroIsNeitherKilledNorWaitedFor) {
  fakes::ProcessList().processes = {{L"idle", 0}, {L"holder.exe", 884}};
  fakes::Pipe().output =
      "  TCP    127.0.0.1:4033         127.0.0.1:601          TIME_WAIT       "
      "0\n" +
      Listing({{"4033", "884"}});
  KillEndsProcesses();

  EXPECT_TRUE(RunUntilSleep(2));

  EXPECT_EQ(Commands(), (Strings{Kill("884"), kStart}));
  EXPECT_EQ(SleepsTaken(), (Sleeps{1000, 10000}));
  EXPECT_EQ(fakes::ProcessList().opened, 2);
}

TEST_F(SupervisionTest, UnreadableProcessListMeansAgentMissingAndPidsGone) {
  const struct {
    const char* name;
    bool failSnapshot, failFirst, failNext;
  } cases[] = {
      {"no snapshot", true, false, false},
      {"no first entry", false, true, false},
      {"walk breaks off", false, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    fakes::ProcessListFake& list = fakes::ProcessList();
    list.processes = {kSystem, {L"holder.exe", 884}, kAgent};
    list.failSnapshot = c.failSnapshot;
    list.failFirst = c.failFirst;
    list.failNext = c.failNext;
    // Without a held process the liveness check walks the list.
    fakes::ProcessHandles().facts[884].refuseOpen = true;
    fakes::Pipe().output = Listing({{"4033", "884"}});

    EXPECT_TRUE(RunUntilSleep(2));

    EXPECT_EQ(Commands(), (Strings{Kill("884"), kStart}));
    EXPECT_EQ(SleepsTaken(), (Sleeps{1000, 10000}));
  }
}

TEST_F(SupervisionTest, StopBeforeTheFirstCycleDoesNothing) {
  stopRequested = true;

  EXPECT_FALSE(RunUntilSleep(0));

  EXPECT_EQ(fakes::ProcessList().opened, 0);
  EXPECT_TRUE(SleepsTaken().empty());
}

TEST_F(SupervisionTest, StopDuringImageTestEndsWalkAndThreadWithoutRecovery) {
  fakes::ProcessList().processes = {kSystem, {L"notepad.exe", 8}, kAgent};
  fakes::ProcessList().onStep = [] {
    if (fakes::ProcessList().steps == 1) RequestStopOnThisThread();
  };

  EXPECT_FALSE(RunUntilSleep(0));

  // The entry of the step that saw the stop is not compared.
  EXPECT_EQ(fakes::ProcessList().steps, 2);
  EXPECT_TRUE(fakes::Pipe().commands.empty());
  EXPECT_TRUE(Commands().empty());
  EXPECT_TRUE(SleepsTaken().empty());
}

// A walk compares the snapshot's first entry before it looks for a stop
// request, in the image test and in the liveness check alike.
TEST_F(SupervisionTest, AStopBeforeAWalkStillLetsItsFirstEntryMatch) {
  struct {
    const char* what;
    std::vector<fakes::FakeProcess> processes;
    int stopAtWalk;  // the snapshot during whose first step the stop comes
    Strings commands;
    Sleeps sleeps;
  } cases[] = {
      {"image test", {kAgent, kSystem}, 1, {}, {10000}},
      {"liveness check",
       {{L"a.exe", 1200}, kSystem},
       3,
       {Kill("1200")},
       {1000, 10000}},
  };
  for (const auto& c : cases) {
    fakes::ResetAll();
    stopRequested = false;
    fakes::ProcessList().processes = c.processes;
    fakes::Pipe().output = Listing({{"4033", "1200"}});
    fakes::ProcessHandles().facts[1200].refuseOpen = true;
    const int stopAtWalk = c.stopAtWalk;
    fakes::ProcessList().onStep = [stopAtWalk] {
      if (fakes::ProcessList().opened == stopAtWalk && !stopRequested.load()) {
        RequestStopOnThisThread();
      }
    };

    EXPECT_TRUE(RunUntilSleep(0)) << c.what;

    EXPECT_EQ(Commands(), c.commands) << c.what;
    EXPECT_EQ(SleepsTaken(), c.sleeps) << c.what;
  }
}

TEST_F(SupervisionTest, StopDuringKillsLetsThemAllRunThenEndsAtTheSleep) {
  fakes::ProcessList().processes = {{L"a.exe", 1200}, {L"b.exe", 344}};
  fakes::Pipe().output = Listing({{"4033", "1200"}, {"4044", "344"}});
  fakes::Command().onRun = [](const std::string& command) {
    if (command == Kill("1200")) RequestStopOnThisThread();
  };

  EXPECT_TRUE(RunUntilSleep(0));

  EXPECT_EQ(Commands(), (Strings{Kill("1200"), Kill("344")}));
  EXPECT_EQ(output_, Echo(Kill("1200")) + Echo(Kill("344")));
  EXPECT_EQ(SleepsTaken(), Sleeps{1000});
  EXPECT_EQ(fakes::ProcessList().opened, 2);
}

TEST_F(SupervisionTest, StopDuringLivenessWalkCountsPidsGoneThenStarts) {
  fakes::ProcessList().processes = {kSystem, {L"a.exe", 1200}, {L"b.exe", 344}};
  // Neither is held, so the liveness check walks the process list.
  fakes::ProcessHandles().facts[1200].refuseOpen = true;
  fakes::ProcessHandles().facts[344].refuseOpen = true;
  fakes::Pipe().output = Listing({{"4033", "1200"}, {"4044", "344"}});
  fakes::ProcessList().onStep = [] {
    // The first step of the first liveness walk.
    if (fakes::ProcessList().opened == 3) RequestStopOnThisThread();
  };

  EXPECT_TRUE(RunUntilSleep(0));

  EXPECT_EQ(Commands(), (Strings{Kill("1200"), Kill("344"), kStart}));
  EXPECT_EQ(SleepsTaken(), (Sleeps{1000, 10000}));
  EXPECT_EQ(fakes::ProcessList().opened, 4);
  // The names are read whole; each liveness walk compared its first entry
  // and ended after its second step.
  EXPECT_EQ(fakes::ProcessList().steps, 3 + 3 + 2 + 2);
}

TEST_F(SupervisionTest, StopDuringStartCommandEndsAtTheClosingSleep) {
  fakes::Command().onRun = [](const std::string&) {
    RequestStopOnThisThread();
  };

  EXPECT_TRUE(RunUntilSleep(0));

  EXPECT_EQ(Commands(), Strings{kStart});
  EXPECT_EQ(SleepsTaken(), Sleeps{10000});
}

// A stop or pause that arrives while a recovery audits what it trusts or
// lists the port holders ends it before its first command: nothing is killed,
// started or recorded, and the thread ends at its sleep.
TEST_F(SupervisionTest, StopDuringTheAuditOrTheListingRunsNoCommand) {
  const struct {
    const char* what;
    bool duringAudit;
    Strings listings;  // the netstat commands opened
  } cases[] = {{"during the audit", true, {}},
               {"during the listing", false, {"netstat -ano"}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    fakes::ProcessList().processes = {{L"a.exe", 1200}};
    fakes::Pipe().output = Listing({{"4033", "1200"}});
    if (c.duringAudit) {
      fakes::Security().onRead = RequestStopOnThisThread;
    } else {
      fakes::Pipe().onOpen = RequestStopOnThisThread;
    }

    EXPECT_TRUE(RunUntilSleep(0));

    EXPECT_EQ(fakes::Pipe().commands, c.listings);
    EXPECT_TRUE(Commands().empty());
    EXPECT_EQ(SleepsTaken(), Sleeps{10000});
    for (std::uint32_t id : fakes::EventLog().Ids()) {
      EXPECT_NE(id, events::kRecovery);
    }
  }
}

TEST_F(SupervisionTest, StopDuringAnySleepEndsTheThreadThere) {
  const struct {
    int sleep;
    Strings commands;
    Sleeps sleeps;
  } cases[] = {
      {1, {Kill("1200"), Kill("344")}, {1000}},
      {2, {Kill("1200"), Kill("344")}, {1000, 10000}},
      {3, {Kill("1200"), Kill("344"), kStart}, {1000, 10000, 10000}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sleep);
    SetUp();
    fakes::ProcessList().processes = {{L"a.exe", 1200}, {L"b.exe", 344}};
    fakes::Pipe().output = Listing({{"4033", "1200"}, {"4044", "344"}});
    KillEndsProcesses({1200});

    EXPECT_TRUE(RunUntilSleep(c.sleep));

    EXPECT_EQ(Commands(), c.commands);
    EXPECT_EQ(SleepsTaken(), c.sleeps);
  }
}

// A cycle that fails goes on to its closing sleep; the next one starts over.
TEST_F(SupervisionTest, FailedCycleIsAbsorbedAndTheNextOneRuns) {
  const struct {
    const char* name;
    void (*fail)();
  } cases[] = {
      {"bad_alloc", [] { throw std::bad_alloc(); }},
      {"runtime_error", [] { throw std::runtime_error("broken"); }},
      {"not an exception class", [] { throw 42; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SetUp();
    fakes::ProcessList().processes = {{L"a.exe", 1200}, {L"b.exe", 344}};
    fakes::Pipe().output = Listing({{"4033", "1200"}, {"4044", "344"}});
    KillEndsProcesses();
    const auto kill = fakes::Command().onRun;
    auto fail = c.fail;
    fakes::Command().onRun = [kill, fail](const std::string& command) {
      if (fakes::Command().commands.size() == 1) fail();
      kill(command);
    };

    EXPECT_TRUE(RunUntilSleep(3));

    EXPECT_EQ(Commands(),
              (Strings{Kill("1200"), Kill("1200"), Kill("344"), kStart}));
    EXPECT_EQ(output_, Echo(Kill("1200")) + Echo(Kill("344")) + Echo(kStart));
    EXPECT_EQ(SleepsTaken(), (Sleeps{10000, 1000, 10000}));
  }
}

TEST_F(SupervisionTest, FailedProcessWalkClosesItsSnapshot) {
  fakes::ProcessList().processes = {kSystem, kAgent};
  fakes::ProcessList().onStep = [] {
    if (fakes::ProcessList().steps == 1) throw std::bad_alloc();
  };

  EXPECT_TRUE(RunUntilSleep(2));

  EXPECT_EQ(fakes::ProcessList().opened, 2);
  EXPECT_TRUE(Commands().empty());
  EXPECT_EQ(SleepsTaken(), (Sleeps{10000, 10000}));
}

TEST_F(SupervisionTest, ServerConfPortsAreWatched) {
  const std::string directory = ::testing::TempDir();
  const std::string path = directory + "server.conf";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("{\"listening_ports\": \"8080\"}", file);
  std::fclose(file);
  AgentLocation.configDirectory = directory.substr(0, directory.size() - 1);
  fakes::ProcessList().processes = {{L"a.exe", 777}, {L"b.exe", 778}};
  fakes::Pipe().output = Listing({{"8080", "777"}, {"8081", "778"}});
  KillEndsProcesses();

  EXPECT_TRUE(RunUntilSleep(2));
  std::remove(path.c_str());

  EXPECT_EQ(Commands(), (Strings{Kill("777"), kStart}));
}

// The record of a recovery: the names the process list showed just before
// the kills (UTF-8 from its UTF-16, whatever the code page), the watched
// ports each PID held, the PID texts left alone, the
// survivors and the start command's exit code. Idle cycles write nothing.
TEST_F(SupervisionTest, ARecoveryIsRecordedAsOneEventAndIdleCyclesAsNone) {
  fakes::ProcessList().processes = {
      kSystem, {L"leftover.exe", 1200}, {L"b\u00e4r.exe", 344}};
  fakes::Pipe().output = Listing({{"4033", "1200"},
                                  {"4044", "1200"},
                                  {"4045", "344"},
                                  {"4046", "0"},
                                  {"4523", "12x"},
                                  {"5555", "999"}});
  KillEndsProcesses({344});
  fakes::Command().exitCode = 3;
  // The agent is back for the second cycle and the third.
  fakes::Thread().onSleep = [](std::chrono::milliseconds duration) {
    if (duration.count() == 10000 && fakes::Thread().sleeps.size() == 3) {
      fakes::ProcessList().processes.push_back(kAgent);
    }
  };

  EXPECT_TRUE(RunUntilSleep(5));

  EXPECT_EQ(Commands(), (Strings{Kill("1200"), Kill("344"), kStart}));
  ASSERT_EQ(fakes::EventLog().Ids(),
            (std::vector<std::uint32_t>{events::kRecovery,
                                        events::kAgentRunningAgain}));
  EXPECT_EQ(fakes::EventLog().events[0].inserts,
            (Strings{"PID 1200 (leftover.exe, ports 4033, 4044); PID 344 "
                     "(b\xC3\xA4r.exe, port 4045)",  // UTF-8, not '?'
                     "\"0\" (PID 0 is no process: a socket without an "
                     "owner); \"12x\" (not a plain decimal PID: it holds a "
                     "character other than the digits 0 to 9)",
                     "1", kStart, "3",
                     "Its ports were freed, but its start command failed with "
                     "exit code 3."}));
  EXPECT_EQ(fakes::EventLog().events[1].inserts, (Strings{"10", "1"}));
}
// The path of server.conf is made of the ANSI configuration directory: the
// record gets it converted from that code page (the emulated one knows ASCII
// only), never its raw bytes, which would not be UTF-8.
TEST_F(SupervisionTest, TheConfigurationPathReachesTheRecordConverted) {
  const std::string directory = ::testing::TempDir() + "conf\xE5";
  ASSERT_TRUE(boost::filesystem::create_directories(directory) ||
              boost::filesystem::is_directory(directory));
  const std::string path = directory + platform::kPathSeparator + "server.conf";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("[\"ssl_port\", \"4443\"]", file);
  std::fclose(file);
  AgentLocation.configDirectory = directory;

  BuildWatchedPorts();
  boost::filesystem::remove_all(directory);

  ASSERT_EQ(fakes::EventLog().Ids(),
            std::vector<std::uint32_t>{events::kServerConfUnusable});
  EXPECT_EQ(fakes::EventLog().events[0].inserts.at(0),
            ::testing::TempDir() + "conf\xEF\xBF\xBD" +
                platform::kPathSeparator + "server.conf");
}

// An unusable server.conf is a warning with the parser's offset, once for as
// long as it stays so.
TEST_F(SupervisionTest, AnUnusableServerConfIsRecordedOnce) {
  const std::string directory = ::testing::TempDir();
  const std::string path = directory + "server.conf";
  std::FILE* file = std::fopen(path.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("{\"ssl_port\": 443,}", file);
  std::fclose(file);
  AgentLocation.configDirectory = directory.substr(0, directory.size() - 1);

  EXPECT_TRUE(RunUntilSleep(2));
  std::remove(path.c_str());

  ASSERT_EQ(fakes::EventLog().Ids(),
            (std::vector<std::uint32_t>{events::kServerConfUnusable,
                                        events::kRecovery, events::kRecovery}));
  EXPECT_EQ(fakes::EventLog().events[0].inserts,
            (Strings{AgentLocation.configDirectory + platform::kPathSeparator +
                         "server.conf",
                     "it is not valid JSON: Missing a name for object member. "
                     "(at byte offset 17)"}));
}
}  // namespace

// What the listing names beside a true holder (PID 1200, always killed), and
// whether the recovery may kill it. The listing's netstat starts at 1000.
TEST_F(SupervisionTest, KillsOnlyWhatHeldThePortWhenTheListingWasTaken) {
  using Answer = platform::ProcessAnswer;
  const std::string kCreatedAfter =
      "created after the netstat listing began: not the process it showed";
  const std::string kEnded =
      "ended before its kill command: the PID may be another process's next";
  const struct {
    const char* what;
    std::string pid;
    void (*arrange)();
    std::string reason;  // empty: killed as before
  } cases[] = {
      {"created after the listing began", "2000",
       [] { fakes::ProcessHandles().facts[2000].creationTime = 1001; },
       kCreatedAfter},
      {"created as the listing began", "2000",
       [] { fakes::ProcessHandles().facts[2000].creationTime = 1000; }, ""},
      {"created while netstat ran", "2000",
       [] {
         fakes::ProcessHandles().facts[2000].creationTime = 1500;
         fakes::Pipe().onOpen = [] { fakes::ProcessHandles().now = 2000; };
       },
       kCreatedAfter},
      {"ended before its kill: the child of the holder killed first", "2000",
       [] {
         fakes::Command().onRun = [](const std::string& command) {
           if (command == Kill("1200")) fakes::ProcessList().processes.clear();
         };
       },
       kEnded},
      {"ended before the listing was printed, young, still known", "2000",
       [] {
         fakes::ProcessHandles().facts[2000].creationTime = 1001;
         fakes::ProcessHandles().facts[2000].ended = true;
       },
       kEnded},
      {"ended between the listing and the open", "2000",
       [] { fakes::ProcessList().processes.pop_back(); }, kEnded},
      {"the watchdog itself", "2000",
       [] { fakes::ProcessHandles().ownPid = 2000; },
       "the watchdog's own process"},
      {"System", "4", [] { fakes::ProcessList().processes.push_back(kSystem); },
       "PID 4 is the System process: its ports are the kernel's"},
      {"critical", "2000",
       [] { fakes::ProcessHandles().facts[2000].critical = Answer::kYes; },
       "Windows marks the process critical: ending it would stop Windows"},
      {"open refused", "2000",
       [] { fakes::ProcessHandles().facts[2000].refuseOpen = true; }, ""},
      {"critical query not implemented", "2000",
       [] { fakes::ProcessHandles().facts[2000].critical = Answer::kUnknown; },
       ""},
      {"creation time unknown", "2000",
       [] { fakes::ProcessHandles().facts[2000].creationTimeFails = true; },
       ""},
      {"end unknown", "2000",
       [] { fakes::ProcessHandles().facts[2000].waitFails = true; }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    fakes::ProcessList().processes = {{L"holder.exe", 1200},
                                      {L"child.exe", 2000}};
    fakes::Pipe().output = Listing({{"4033", "1200"}, {"4044", c.pid}});
    KillEndsProcesses();
    c.arrange();
    const bool killed = c.reason.empty();

    EXPECT_TRUE(RunUntilSleep(2));

    EXPECT_EQ(Commands(), killed ? (Strings{Kill("1200"), Kill(c.pid), kStart})
                                 : (Strings{Kill("1200"), kStart}));
    EXPECT_EQ(output_, Echo(Kill("1200")) +
                           (killed ? Echo(Kill(c.pid))
                                   : "not killed : PID " + c.pid + " (" +
                                         c.reason + ")\n") +
                           Echo(kStart));
    // Gone after its kill, whether its handle or the process list tells.
    EXPECT_EQ(SleepsTaken(), (Sleeps{1000, 10000}));
    ASSERT_EQ(fakes::EventLog().Ids(),
              std::vector<std::uint32_t>{events::kRecovery});
    EXPECT_EQ(fakes::EventLog().events[0].inserts[1],
              killed ? "none" : "\"" + c.pid + "\" (" + c.reason + ")");
  }
}

// The held processes answer the liveness check; one that would not tell is
// looked for in the process list.
TEST_F(SupervisionTest, LivenessCheckAsksTheHeldProcessFirst) {
  fakes::ProcessList().processes = {{L"a.exe", 1200}, {L"b.exe", 344}};
  fakes::Pipe().output = Listing({{"4033", "1200"}, {"4044", "344"}});
  fakes::ProcessHandles().facts[344].waitFails = true;
  KillEndsProcesses({344, 1200});
  std::vector<int> held;  // handles open at each sleep
  fakes::Thread().onSleep = [&held](std::chrono::milliseconds) {
    held.push_back(fakes::ProcessHandles().OpenNow());
  };

  EXPECT_TRUE(RunUntilSleep(4));

  EXPECT_EQ(SleepsTaken(), (Sleeps{1000, 10000, 10000, 10000}));
  // Held through the pauses, released before the cycle's closing one.
  EXPECT_EQ(held, (std::vector<int>{2, 2, 2, 0}));
  // The image test, the names, and one walk for 344 alone.
  EXPECT_EQ(fakes::ProcessList().opened, 3);
  EXPECT_EQ(fakes::ProcessHandles().opened, 2);
}

// A recovery cut short after its kills, by a stop or pause during one of its
// sleeps or by a failure, is recorded all the same: what it killed, that it
// was cut short and what did not run. The interruption still ends the thread.
TEST_F(SupervisionTest, ARecoveryCutShortIsRecordedWithWhatItKilled) {
  const std::string kBoth =
      "PID 1200 (a.exe, port 4033); PID 344 (b.exe, port 4044)";
  const std::string kCut =
      "The recovery was cut short by a stop, a pause or a failure, so the "
      "agent was not started. Not run: the start command";
  const struct {
    const char* what;
    int interruptAt;      // the sleep that a stop interrupts
    std::string failing;  // the command that fails instead, if any
    Strings commands;
    Strings inserts;  // of the one event 2000
    // A listing row beside the two holders: a PID it leaves alone.
    std::pair<std::string, std::string> spared = {};
    std::string failingEcho = {};  // the command whose echo fails, if any
  } cases[] = {
      {"stop during the pause after the kills",
       1,
       "",
       {Kill("1200"), Kill("344")},
       {kBoth, "none", "0", "", "not run",
        kCut + ", the check whether 2 killed processes ended."}},
      {"stop during the wait for a survivor",
       2,
       "",
       {Kill("1200"), Kill("344")},
       {kBoth, "none", "1", "", "not run",
        kCut + ", the check whether 1 killed process ended."}},
      // The kill commands not run are those of kills: System's PID would get
      // none anyway.
      {"failure in the first kill command",
       1,
       Kill("1200"),
       {Kill("1200")},
       {"PID 1200 (a.exe, port 4033)", "none", "0", "", "not run",
        kCut + ", the check whether 1 killed process ended, 1 kill command."},
       {"4045", "4"}},
      {"failure in the start command",
       3,
       kStart,
       {Kill("1200"), Kill("344"), kStart},
       {kBoth, "none", "1", kStart, "not run", kCut + "."}},
      {"stop after the start command",
       3,
       "",
       {Kill("1200"), Kill("344"), kStart},
       {kBoth, "none", "1", kStart, "0",
        "Its ports were freed and it was started again."}},
      {"failure after the start command ran, in its echo",
       3,
       "",
       {Kill("1200"), Kill("344"), kStart},
       {kBoth, "none", "1", kStart, "0",
        "Its ports were freed and it was started again."},
       {},
       kStart},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    fakes::ProcessList().processes = {{L"a.exe", 1200}, {L"b.exe", 344}};
    fakes::Pipe().output =
        c.spared.first.empty()
            ? Listing({{"4033", "1200"}, {"4044", "344"}})
            : Listing({{"4033", "1200"}, {"4044", "344"}, c.spared});
    KillEndsProcesses({1200});
    if (!c.failingEcho.empty()) {
      const std::string echo = Echo(c.failingEcho);
      fakes::Console().onWrite = [echo](std::string_view text) {
        if (text == echo) throw std::bad_alloc();
      };
    }
    if (!c.failing.empty()) {
      const auto kill = fakes::Command().onRun;
      const std::string failing = c.failing;
      fakes::Command().onRun = [kill, failing](const std::string& command) {
        if (command == failing) throw std::bad_alloc();
        kill(command);
      };
    }

    EXPECT_TRUE(RunUntilSleep(c.interruptAt));

    EXPECT_EQ(Commands(), c.commands);
    ASSERT_EQ(fakes::EventLog().Ids(),
              std::vector<std::uint32_t>{events::kRecovery});
    EXPECT_EQ(fakes::EventLog().events[0].type, platform::EventType::kWarning);
    EXPECT_EQ(fakes::EventLog().events[0].inserts, c.inserts);
  }
}

// The same port in several rows of one PID (listening on two addresses, and
// connected) is named once; a listing whose only rows are UDP has no TCP
// section to index, so nothing is killed.
TEST_F(SupervisionTest, TheRecordNamesEachPortOnceAndUdpOnlyListingsKillNone) {
  fakes::ProcessList().processes = {{L"a.exe", 1200}};
  fakes::Pipe().output =
      Listing({{"4033", "1200"}, {"4033", "1200"}, {"4044", "1200"}}) +
      "  TCP    127.0.0.1:4033         127.0.0.1:600          ESTABLISHED     "
      "1200\n";
  KillEndsProcesses();

  EXPECT_TRUE(RunUntilSleep(2));

  EXPECT_EQ(Commands(), (Strings{Kill("1200"), kStart}));
  ASSERT_EQ(fakes::EventLog().events.size(), 1u);
  EXPECT_EQ(fakes::EventLog().events[0].inserts[0],
            "PID 1200 (a.exe, ports 4033, 4044)");

  SetUp();
  fakes::ProcessList().processes = {{L"a.exe", 1200}};
  fakes::Pipe().output =
      "\nActive Connections\n\n  Proto  Local Address          Foreign "
      "Address        State           PID\n"
      "  UDP    0.0.0.0:4033           *:*                                    "
      "1200\n";

  EXPECT_TRUE(RunUntilSleep(1));

  EXPECT_EQ(Commands(), Strings{kStart});
  ASSERT_EQ(fakes::EventLog().events.size(), 1u);
  EXPECT_EQ(fakes::EventLog().events[0].inserts[0], "none");
}

// The sum of "<image name>: <count>" parts of a summary's list.
int CountOf(const std::string& list, const std::string& name) {
  const std::string key = name + ": ";
  const std::size_t at = list.find(key);
  return at == std::string::npos ? 0 : std::stoi(list.substr(at + key.size()));
}

// A day of an agent that comes back for one cycle and dies again, every 21
// to 31 seconds, its leftover holding a port each time. In any hour at most
// 10 recovery and 10 running-again events, at most one summary; and the
// recovery events with the summaries account for every kill, every
// recovery, every failed start and every return.
// However supervision ends, the sum that the hourly bound holds back is
// written: here it returns on the stop flag, seen at the top of a cycle.
TEST_F(SupervisionTest, TheHeldBackSumIsWrittenWhenSupervisionReturns) {
  int starts = 0;
  fakes::Command().onRun = [&starts](const std::string&) {
    if (++starts == 12) stopRequested = true;
  };

  EXPECT_FALSE(RunUntilSleep(0));

  EXPECT_EQ(starts, 12);
  const auto& events = fakes::EventLog().events;
  ASSERT_FALSE(events.empty());
  // The 11th recovery was summed up at once (11 recoveries since the start,
  // 1 of them left out); the 12th waited for its hour.
  EXPECT_EQ(events.back().id, events::kLeftOutSummary);
  EXPECT_EQ(events.back().inserts[0], "1");
  EXPECT_EQ(events.back().inserts[1], "1");
}

TEST_F(SupervisionTest, ADayOfCrashLoopsStaysBoundedAndRecordsEveryKill) {
  constexpr long long kHour = 3600 * 1000;
  constexpr long long kDay = 24 * kHour;
  const fakes::FakeProcess kLeftover{L"leftover.exe", 1200};
  fakes::ProcessList().processes = {kLeftover};
  fakes::Pipe().output = Listing({{"4033", "1200"}});
  int kills = 0, starts = 0, failedStarts = 0, returns = 0;
  int agentSleeps = 0;  // closing sleeps since the agent was started
  fakes::Command().onRun = [&](const std::string& command) {
    auto& processes = fakes::ProcessList().processes;
    if (command == Kill("1200")) {
      // Every third leftover outlives its kill for a while.
      if (++kills % 3 != 0) processes.clear();
      return;
    }
    // The exit code was taken before this ran; every fourth start fails.
    failedStarts += fakes::Command().exitCode != 0;
    ++starts;
    fakes::Command().exitCode = (starts + 1) % 4 == 0 ? 9009 : 0;
    processes = {kAgent, kLeftover};
    agentSleeps = 0;
  };
  std::vector<long long> times;  // when each event was written
  fakes::Thread().onSleep = [&](std::chrono::milliseconds duration) {
    const long long before = fakes::Thread().nowMs - duration.count();
    while (times.size() < fakes::EventLog().events.size()) {
      times.push_back(before);
    }
    auto& processes = fakes::ProcessList().processes;
    const bool agentUp =
        std::find_if(processes.begin(), processes.end(), [](const auto& p) {
          return p.pid == kAgent.pid;
        }) != processes.end();
    if (agentUp && duration.count() == 10000 && ++agentSleeps == 2) {
      ++returns;  // the cycle before this sleep saw it
      processes = {kLeftover};
    }
    if (fakes::Thread().nowMs >= kDay) throw boost::thread_interrupted();
  };

  EXPECT_TRUE(RunUntilSleep(0));

  const auto& events = fakes::EventLog().events;
  while (times.size() < events.size()) times.push_back(kDay);
  ASSERT_FALSE(events.empty());
  // The stop writes the sum that waited for its hour.
  EXPECT_EQ(events.back().id, events::kLeftOutSummary);
  std::map<std::uint32_t, int> perId;
  for (std::size_t i = 0; i < events.size(); ++i) {
    ++perId[events[i].id];
    std::map<std::uint32_t, int> inHour;
    for (std::size_t j = 0; j <= i; ++j) {
      if (times[i] - times[j] < kHour) ++inHour[events[j].id];
    }
    ASSERT_LE(inHour[events::kRecovery], 10) << "at " << times[i];
    ASSERT_LE(inHour[events::kAgentRunningAgain], 10) << "at " << times[i];
    ASSERT_LE(inHour[events::kRepeatedRecoveries], 1) << "at " << times[i];
    if (i + 1 < events.size()) {
      ASSERT_LE(inHour[events::kLeftOutSummary], 1) << "at " << times[i];
    }
  }
  // About 3,400 loops; one event a loop would be thousands.
  EXPECT_GT(starts, 3000);
  EXPECT_LE(perId[events::kRecovery], 24 * 10 + 10);
  EXPECT_LE(events.size(), 24u * 23 + 2);

  int recordedKills = 0, recoveries = 0, recordedFailures = 0,
      recordedReturns = 0, summedRecoveries = 0;
  for (const fakes::FakeEvent& event : events) {
    if (event.id == events::kRecovery) {
      ++recoveries;
      recordedKills += event.inserts[0] == "PID 1200 (leftover.exe, port 4033)";
      recordedFailures += event.inserts[4] == "9009";
    } else if (event.id == events::kAgentRunningAgain) {
      ++recordedReturns;
    } else if (event.id == events::kLeftOutSummary) {
      summedRecoveries += std::stoi(event.inserts[0]);
      recoveries += std::stoi(event.inserts[1]);
      recordedKills += CountOf(event.inserts[2], "leftover.exe");
      recordedFailures += CountOf(event.inserts[3], "exit code 9009");
      EXPECT_EQ(event.inserts[4], "0");
      recordedReturns += std::stoi(event.inserts[5]);
    }
  }
  EXPECT_EQ(recordedKills, kills);
  EXPECT_EQ(recoveries, starts);
  EXPECT_EQ(summedRecoveries, starts);
  EXPECT_EQ(recordedFailures, failedStarts);
  EXPECT_EQ(recordedReturns, returns);
}

// Each state of server.conf that leaves its ports unused is one warning 3000
// with its own text, and the built-in ports alone are watched.
TEST_F(SupervisionTest, EachUnusableServerConfStateHasItsOwnText) {
  const struct {
    const char* what;
    std::string content;
    void (*arrange)();
    std::string detail;
  } cases[] = {
      {"a root that is not an object", R"(["ssl_port","4443"])", [] {},
       "its root is not a JSON object"},
      {"exists but cannot be opened", R"({"ssl_port": 4443})",
       [] { fakes::File().failOpen = true; },
       "it cannot be opened for reading"},
      {"whether it exists cannot be told", R"({"ssl_port": 4443})",
       [] { fakes::File().existenceError = 53; },
       "the system could not tell whether it exists (system error 53)"},
      {"an exponent beyond 308", R"({"ssl_port": 4443, "x": 1e309})", [] {},
       "it is not valid JSON: The exponent of a number exceeds 308 in "
       "magnitude. (at byte offset 24)"},
      {"a negative exponent beyond 308 after a fraction",
       R"({"x": -0.5e-0000310})", [] {},
       "it is not valid JSON: The exponent of a number exceeds 308 in "
       "magnitude. (at byte offset 6)"},
  };
  const std::string directory = ::testing::TempDir();
  const std::string path = directory + "server.conf";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SetUp();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(c.content.c_str(), file);
    std::fclose(file);
    AgentLocation.configDirectory = directory.substr(0, directory.size() - 1);
    c.arrange();

    const PortSet ports = BuildWatchedPorts();
    std::remove(path.c_str());

    EXPECT_EQ(ports, MakeDefaultPorts());
    ASSERT_EQ(fakes::EventLog().Ids(),
              std::vector<std::uint32_t>{events::kServerConfUnusable});
    EXPECT_EQ(fakes::EventLog().events[0].type, platform::EventType::kWarning);
    EXPECT_EQ(fakes::EventLog().events[0].inserts,
              (Strings{AgentLocation.configDirectory +
                           platform::kPathSeparator + "server.conf",
                       c.detail}));
  }
}

// The supervision cycle for 100,000 cycles on the emulated platform, with a
// recovery in every fourth cycle and a fault injected into many of them: no
// snapshot, process handle, pipe or file is left open, only plain PIDs reach a
// command, and neither the C++ heap nor the C heap grows once every path has
// been taken.
#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

#include "fakes/fake_command.h"
#include "fakes/fake_file.h"
#include "fakes/fake_pipe.h"
#include "fakes/fake_process_list.h"
#include "fakes/fake_thread.h"
#include "fakes/fakes.h"
#include "monitor/monitor.h"

namespace {

std::atomic<long long> liveAllocations{0};

}  // namespace

// Counts the C++ heap blocks alive; the array and nothrow forms end here too.
void* operator new(std::size_t size) {
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) throw std::bad_alloc();
  ++liveAllocations;
  return memory;
}
void operator delete(void* memory) noexcept {
  if (memory == nullptr) return;
  --liveAllocations;
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  operator delete(memory);
}

namespace {

constexpr int kCycles = 100000;
constexpr int kWarmUpCycles = 1000;
constexpr long long kCyclePauseMs = 10000;
constexpr long long kAfterKillPauseMs = 1000;
constexpr char kStart[] = "C:\\Agent\\riduvuruz.exe -start";
constexpr char kKillPrefix[] = "taskkill /F /pid ";

const fakes::FakeProcess kAgent{L"riduvuruz.exe", 500};
const fakes::FakeProcess kSystem{L"System", 4};

std::string Row(const std::string& port, const std::string& state,
                const std::string& pid) {
  return "  TCP    0.0.0.0:" + port + "           0.0.0.0:0              " +
         state + "       " + pid + "\n";
}

const std::string& Listing() {
  static const std::string listing =
      "\nActive Connections\n\n  Proto  Local Address          Foreign "
      "Address        State           PID\n" +
      Row("4033", "LISTENING", "1200") + Row("4044", "LISTENING", "1300") +
      Row("4045", "TIME_WAIT", "0") + Row("4046", "LISTENING", "1&calc") +
      Row("8080", "LISTENING", "1400") + Row("135", "LISTENING", "900") +
      "  UDP    [::]:4033              *:*                                   "
      "  1500\n";
  return listing;
}

// What a cycle meets, chosen by its number.
enum class Scenario {
  kAgentRunning,
  kRecovery,        // holders of the ports, killed by their command
  kHolderSurvives,  // one holder outlives its kill
  kPipeFails,       // netstat can't be run
  kSnapshotFails,   // no process list at all
  kWalkFails,       // the process list can't be read past its first entry
  kConfUnreadable,  // server.conf exists but can't be opened
  kCommandThrows,   // memory runs out inside the first command
  kCount,
};

class SupervisionLongRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fakes::ResetAll();
    stopRequested = false;
    AgentLocation.imagePath = "C:\\Agent\\riduvuruz.exe";
    confDirectory_ = ::testing::TempDir() + "long_run_conf";
    std::remove((confDirectory_ + "/server.conf").c_str());
    rmdir(confDirectory_.c_str());
    ASSERT_EQ(mkdir(confDirectory_.c_str(), 0700), 0);
    std::FILE* file =
        std::fopen((confDirectory_ + "/server.conf").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("{\"listening_ports\": \"8080,8443\", \"ssl_port\": 443}", file);
    std::fclose(file);
    AgentLocation.configDirectory = confDirectory_;
  }

  void TearDown() override {
    std::remove((confDirectory_ + "/server.conf").c_str());
    rmdir(confDirectory_.c_str());
    AgentLocation.configDirectory.clear();
  }

  // Sets up the world for the cycle `cycle`, at the end of the one before.
  static void Arrange(int cycle) {
    fakes::ProcessListFake& processes = fakes::ProcessList();
    processes.failSnapshot = processes.failFirst = processes.failNext = false;
    fakes::Pipe().failOpen = false;
    fakes::File().failOpen = false;
    const Scenario scenario =
        cycle % 4 != 0 ? Scenario::kAgentRunning
                       : static_cast<Scenario>(
                             (cycle / 4) % static_cast<int>(Scenario::kCount));
    processes.processes = {
        kSystem, {L"a.exe", 1200}, {L"b.exe", 1300}, {L"c.exe", 1400}};
    if (scenario == Scenario::kAgentRunning)
      processes.processes.push_back(kAgent);
    if (scenario == Scenario::kHolderSurvives)
      survivor_ = 1300;
    else
      survivor_ = 0;
    throwInCommand_ = scenario == Scenario::kCommandThrows;
    processes.failSnapshot = scenario == Scenario::kSnapshotFails;
    processes.failNext = scenario == Scenario::kWalkFails;
    fakes::Pipe().failOpen = scenario == Scenario::kPipeFails;
    fakes::File().failOpen = scenario == Scenario::kConfUnreadable;
  }

  // A kill ends its process unless it is the survivor; every command is
  // checked and then forgotten, so that the record does not grow.
  static void RunCommand(const std::string& command) {
    ++commandsRun_;
    if (command == kStart) {
      ++starts_;
    } else {
      const std::string prefix = kKillPrefix;
      std::uint32_t pid = 0;
      if (command.compare(0, prefix.size(), prefix) != 0 ||
          !ParseKillablePid(command.substr(prefix.size()), &pid)) {
        ++badCommands_;
      } else {
        ++kills_;
        auto& list = fakes::ProcessList().processes;
        for (auto it = list.begin(); it != list.end(); ++it) {
          if (it->pid == pid && pid != survivor_) {
            list.erase(it);
            break;
          }
        }
      }
    }
    fakes::Command().commands.clear();
    if (throwInCommand_) {
      throwInCommand_ = false;
      throw std::bad_alloc();
    }
  }

  // Counts the cycles at their closing pause; a 10-second pause after the
  // 1-second one is a survivor's, inside the same cycle.
  static void AtSleep(std::chrono::milliseconds duration) {
    fakes::Thread().sleeps.clear();
    fakes::Pipe().commands.clear();
    fakes::File().opened.clear();
    fakes::EventLog().events.clear();
    if (duration.count() == kAfterKillPauseMs) {
      inKillWait_ = true;
      return;
    }
    if (inKillWait_ && commandsSinceWait_ == commandsRun_) return;
    inKillWait_ = false;
    ++cycles_;
    if (cycles_ == kWarmUpCycles) {
      heapAtWarmUp_ = liveAllocations;
      mallocAtWarmUp_ = mallinfo2().uordblks;
    }
    if (cycles_ == kCycles) throw boost::thread_interrupted();
    Arrange(cycles_);
    commandsSinceWait_ = commandsRun_;
  }

  std::string confDirectory_;

  static inline int cycles_ = 0;
  static inline bool inKillWait_ = false;
  static inline long long commandsRun_ = 0;
  static inline long long commandsSinceWait_ = 0;
  static inline long long starts_ = 0;
  static inline long long kills_ = 0;
  static inline long long badCommands_ = 0;
  static inline std::uint32_t survivor_ = 0;
  static inline bool throwInCommand_ = false;
  static inline long long heapAtWarmUp_ = 0;
  static inline std::size_t mallocAtWarmUp_ = 0;
};

TEST_F(SupervisionLongRunTest, HundredThousandCyclesHoldNoHandleAndGrowNoHeap) {
  fakes::Pipe().output = Listing();
  fakes::Command().onRun = RunCommand;
  fakes::Thread().onSleep = AtSleep;
  Arrange(0);

  // The echoes of some 40,000 commands go nowhere.
  std::fflush(stdout);
  const int savedStdout = dup(fileno(stdout));
  ASSERT_NE(std::freopen("/dev/null", "w", stdout), nullptr);
  bool interrupted = false;
  try {
    RunMonitor();
  } catch (const boost::thread_interrupted&) {
    interrupted = true;
  }
  std::fflush(stdout);
  dup2(savedStdout, fileno(stdout));
  close(savedStdout);

  ASSERT_TRUE(interrupted);
  EXPECT_EQ(cycles_, kCycles);
  const long long heapGrowth = liveAllocations - heapAtWarmUp_;
  const long long mallocGrowth = static_cast<long long>(mallinfo2().uordblks) -
                                 static_cast<long long>(mallocAtWarmUp_);
  EXPECT_LE(heapGrowth, 0) << "C++ heap blocks";
  EXPECT_LE(mallocGrowth, 64 * 1024) << "bytes in use by malloc";

  EXPECT_EQ(fakes::ProcessList().opened, fakes::ProcessList().closed);
  EXPECT_EQ(fakes::ProcessHandles().opened, fakes::ProcessHandles().closed);
  EXPECT_GT(fakes::ProcessHandles().opened, 0);
  EXPECT_EQ(fakes::Pipe().opened, fakes::Pipe().closed);
  EXPECT_EQ(fakes::File().handedOut, fakes::File().closed);
  EXPECT_EQ(badCommands_, 0);
  // Every recovery but the one cut short by its failing command ends with
  // the agent's start.
  long long recoveries = 0;
  long long cutShort = 0;
  for (int cycle = 0; cycle < kCycles; cycle += 4) {
    const auto scenario =
        static_cast<Scenario>((cycle / 4) % static_cast<int>(Scenario::kCount));
    recoveries += scenario != Scenario::kAgentRunning;
    cutShort += scenario == Scenario::kCommandThrows;
  }
  EXPECT_EQ(starts_, recoveries - cutShort);
  EXPECT_GT(kills_, recoveries);
  RecordProperty("starts", std::to_string(starts_));
  RecordProperty("kills", std::to_string(kills_));
  RecordProperty("heap_growth_blocks", std::to_string(heapGrowth));
  RecordProperty("malloc_growth_bytes", std::to_string(mallocGrowth));
}

}  // namespace

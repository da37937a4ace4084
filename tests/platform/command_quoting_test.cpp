// Agent command lines as the supervision builds them, through the real
// command processor: quoted paths with spaces and quoted arguments arrive as
// written. Each case is one cmd run; Wine's cmd now and then fails to start a
// program it should find (exit 9009, about once in 2,500 runs under load), so
// the runs are kept few; none is retried, as a retry could hide a real fault.
#include <gtest/gtest.h>
#include <windows.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <string>
#include <vector>

#include "platform/command.h"

namespace {

namespace fs = boost::filesystem;

// A folder with a space holding the fixture and a batch file that hands its
// arguments on to it, and a folder without one holding another copy.
class CommandQuotingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            fs::unique_path("didurozir-quoting-%%%%-%%%%");
    home_ = root_ / "agent home";
    plain_ = root_ / "plain";
    fs::create_directories(home_);
    fs::create_directories(plain_);
    fs::copy_file(DIDUROZIR_RECORD_ARGS, home_ / "record_args.exe");
    fs::copy_file(DIDUROZIR_RECORD_ARGS, plain_ / "record_args.exe");
    std::ofstream(fs::path(home_ / "start agent.cmd").string(),
                  std::ios::binary)
        << "@\"%~dp0record_args.exe\" %*\r\n";
    args_ = root_ / "args.txt";
    SetEnvironmentVariableW(L"DIDUROZIR_ARGS_FILE", args_.wstring().c_str());
  }

  void TearDown() override {
    SetEnvironmentVariableW(L"DIDUROZIR_ARGS_FILE", nullptr);
    boost::system::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // Runs the command and returns the arguments the fixture recorded.
  std::vector<std::string> Run(const std::string& command) {
    fs::remove(args_);
    platform::RunCommand(command.c_str());
    std::vector<std::string> args;
    std::ifstream file(args_.string());
    for (std::string line; std::getline(file, line);) args.push_back(line);
    return args;
  }

  fs::path root_, home_, plain_, args_;
};

TEST_F(CommandQuotingTest, ProgramGetsTheArgumentsAsWritten) {
  const std::string home = home_.string();
  const std::string plain = plain_.string();
  ASSERT_EQ(plain.find(' '), std::string::npos) << plain;
  const struct {
    std::string command;
    std::vector<std::string> args;
  } cases[] = {
      {"\"" + home + "\\record_args.exe\" -config \"" + home +
           "\\conf\" -start",
       {"-config", home + "\\conf", "-start"}},
      {"\"" + home + "\\record_args.exe\" -start", {"-start"}},
      {plain + "\\record_args.exe -start", {"-start"}},
      {"\"" + home + "\\start agent.cmd\" -config \"" + home + "\\conf\"",
       {"-config", home + "\\conf"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    EXPECT_EQ(Run(c.command), c.args);
  }
}

TEST_F(CommandQuotingTest, KillCommandEndsTheProcess) {
  std::wstring line =
      L"\"" + (plain_ / "record_args.exe").wstring() + L"\" -stay";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process = {};
  ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, FALSE, 0,
                             nullptr, nullptr, &startup, &process));
  platform::RunCommand(
      ("taskkill /F /pid " + std::to_string(process.dwProcessId)).c_str());
  // The fixture never ends by itself: ended means killed.
  const DWORD waited = WaitForSingleObject(process.hProcess, 10000);
  EXPECT_EQ(waited, WAIT_OBJECT_0);
  if (waited != WAIT_OBJECT_0) TerminateProcess(process.hProcess, 1);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

// The emulated command processor behind platform/command.h.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_COMMAND_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_COMMAND_H_

#include <functional>
#include <string>
#include <vector>

namespace fakes {

// Updated under a lock by the threads that run commands; set it up before they
// start and read it after they have ended or are waiting in a sleep.
struct CommandFake {
  std::vector<std::string> commands;  // every command run, in order
  // Runs as the command itself, on the calling thread, after it was recorded.
  std::function<void(const std::string&)> onRun;
  int exitCode = 0;  // what every command returns

  void Reset() { *this = CommandFake(); }
};

CommandFake& Command();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_COMMAND_H_

#include "fakes/fake_command.h"

#include <mutex>

#include "platform/command.h"

namespace fakes {
namespace {

std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

CommandFake& Command() {
  static CommandFake fake;
  return fake;
}

}  // namespace fakes

namespace platform {

int RunCommand(const char* command) {
  std::function<void(const std::string&)> hook;
  int exitCode = 0;
  {
    std::lock_guard<std::mutex> lock(fakes::Lock());
    fakes::Command().commands.emplace_back(command);
    hook = fakes::Command().onRun;
    exitCode = fakes::Command().exitCode;
  }
  if (hook) hook(command);
  return exitCode;
}

}  // namespace platform

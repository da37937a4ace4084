#include <cstdlib>

#include "platform/command.h"

namespace platform {

// The runtime's system runs the text through %COMSPEC% /c (or cmd.exe).
void RunCommand(const char* command) {
  static_cast<void>(std::system(command));
}

}  // namespace platform

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/command.h"

namespace platform {

// The runtime's system runs the text through %COMSPEC% /c (or cmd.exe). Given
// more than two quotes, cmd /c drops the first and the last one, which breaks
// a quoted path followed by quoted arguments; one more pair around the whole
// command is what it drops instead, so the command runs as written.
int RunCommand(const char* command) {
  if (command == nullptr) {
    return std::system(nullptr) != 0 ? 0 : -1;
  }
  const std::size_t length = std::strlen(command);
  const std::unique_ptr<char[]> quoted(new char[length + 3]);
  quoted[0] = '"';
  std::memcpy(&quoted[1], command, length);
  quoted[length + 1] = '"';
  quoted[length + 2] = '\0';
  return std::system(quoted.get());
}

}  // namespace platform

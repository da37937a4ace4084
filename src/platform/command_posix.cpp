#include <cstdlib>

#include "platform/command.h"

namespace platform {

// system runs the text through /bin/sh -c.
void RunCommand(const char* command) {
  static_cast<void>(std::system(command));
}

}  // namespace platform

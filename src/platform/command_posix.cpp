#include <sys/wait.h>

#include <cstdlib>

#include "platform/command.h"

namespace platform {

// system runs the text through /bin/sh -c.
int RunCommand(const char* command) {
  const int status = std::system(command);
  if (status == -1 || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace platform

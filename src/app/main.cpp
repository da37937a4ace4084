// The process entry point of didurozir.exe.
#include <cstdint>

#include "app/app.h"
#include "platform/system.h"

namespace {

// Started before wmain; ws2_32 lets go of it when the process ends (wmain
// never returns, so its destructor does not run).
const platform::WinsockSession winsock;

}  // namespace

int wmain(int argumentCount, wchar_t** arguments) {
  const std::uint32_t exitCode = RunEntryPoint(argumentCount, arguments);
  // After a stop the monitor thread may still be busy (capturing netstat,
  // running a command) and read the agent's location, the configuration's
  // names and the runtime's own objects. Returning would let the runtime
  // destroy them under it; ending the process here ends that thread first.
  platform::EndProcess(exitCode);
}

// The process entry point of didurozir.exe.
#include "app/app.h"
#include "platform/system.h"

namespace {

// Started before wmain and cleaned up after it returns.
const platform::WinsockSession winsock;

}  // namespace

int wmain(int argumentCount, wchar_t** arguments) {
  return static_cast<int>(RunEntryPoint(argumentCount, arguments));
}

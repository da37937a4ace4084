// The program's entry point: the command line, the management switches with
// their reports, and the choice between service dispatch and a console run.
#ifndef DIDUROZIR_APP_APP_H_
#define DIDUROZIR_APP_APP_H_

#include <cstdint>

// The exit code after the help text, an invalid argument, or a dispatcher
// that could not be started.
constexpr std::uint32_t kExitRefused = 0xFFFFFFFF;

// Runs the program on its command line (the program's name first) and
// returns the process exit code: 0 after a management operation, whatever its
// outcome, and after the service has stopped; kExitRefused otherwise. A
// console run does not return.
std::uint32_t RunEntryPoint(int argumentCount, wchar_t** arguments);

#endif  // DIDUROZIR_APP_APP_H_

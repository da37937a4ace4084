// Running a command line through the command processor.
#ifndef DIDUROZIR_PLATFORM_COMMAND_H_
#define DIDUROZIR_PLATFORM_COMMAND_H_

namespace platform {

// Runs `command` through the command processor and returns when it has ended,
// exactly as written whatever quotes it holds. Returns its exit code, or -1
// when it could not be run; only the record looks at it. Throws
// std::bad_alloc only.
int RunCommand(const char* command);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_COMMAND_H_

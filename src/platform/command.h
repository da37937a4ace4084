// Running a command line through the command processor.
#ifndef DIDUROZIR_PLATFORM_COMMAND_H_
#define DIDUROZIR_PLATFORM_COMMAND_H_

namespace platform {

// Runs `command` through the command processor and returns when it has ended,
// exactly as written whatever quotes it holds. Its exit status is not
// reported: nobody looks at it. Throws std::bad_alloc only.
void RunCommand(const char* command);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_COMMAND_H_

// The program's entry point: the command line, the management switches with
// their reports, and the choice between service dispatch and a console run.
#ifndef DIDUROZIR_APP_APP_H_
#define DIDUROZIR_APP_APP_H_

#include <cstdint>

// The exit code after the help text, an invalid argument, or a dispatcher
// that could not be started.
constexpr std::uint32_t kExitRefused = 0xFFFFFFFF;

// How the switches of a command line end.
enum class CommandLineVerdict {
  kRun,      // every argument is a known switch: go on in runMode
  kHelp,     // a help switch: print the help text, run nothing
  kInvalid,  // not a switch: report the argument, run nothing
};

struct CommandLine {
  CommandLineVerdict verdict = CommandLineVerdict::kRun;
  // The run mode given, lowered by each switch read before the verdict.
  std::uint32_t runMode = 0;
  // The argument that ended the reading (help or invalid); 0 for kRun.
  int endingArgument = 0;
  // A -check switch was read: the dry run wins over every operation, so
  // that another switch on the line never turns it into a change.
  bool check = false;
};

// Reads the switches of a command line (the program's name first) without
// printing or running anything. Arguments after the first help or invalid one
// are not read.
CommandLine ParseCommandLine(int argumentCount, const wchar_t* const* arguments,
                             std::uint32_t runMode);

// Runs the program on its command line (the program's name first) and
// returns the process exit code: 0 after a management operation, whatever its
// outcome, and after the service has stopped; the result code after one of
// the package's operations; the dry run's code after -check (check.h);
// kExitRefused otherwise. A console run does not return.
std::uint32_t RunEntryPoint(int argumentCount, wchar_t** arguments);

#endif  // DIDUROZIR_APP_APP_H_

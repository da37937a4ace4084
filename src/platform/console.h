// Text for the user on standard output, readable in any console.
#ifndef DIDUROZIR_PLATFORM_CONSOLE_H_
#define DIDUROZIR_PLATFORM_CONSOLE_H_

#include <string_view>

namespace platform {

// How the bytes of a text are to be read.
enum class Encoding {
  kUtf8,
  kAnsi,  // the process's ANSI code page
};

// Writes `text` to standard output. When that is a console, the text goes to
// it as UTF-16, so that it reads right whatever the console's own code page;
// redirected to a file or a pipe, its bytes go out unchanged.
void WriteStdout(std::string_view text, Encoding encoding);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_CONSOLE_H_

#include <cstdio>

#include "platform/console.h"

namespace platform {

// A terminal here reads the bytes as they are.
void WriteStdout(std::string_view text, Encoding) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace platform

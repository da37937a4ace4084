#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/console.h"

namespace platform {
namespace {

void WriteBytes(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace

void WriteStdout(std::string_view text, Encoding encoding) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (out == nullptr || out == INVALID_HANDLE_VALUE ||
      !GetConsoleMode(out, &mode) || text.empty()) {
    WriteBytes(text);
    return;
  }
  try {
    // In a line feed's place the console gets the CR LF that the runtime's
    // text mode would have written.
    std::string lines;
    for (const char c : text) {
      if (c == '\n') lines += '\r';
      lines += c;
    }
    const UINT page = encoding == Encoding::kUtf8 ? CP_UTF8 : CP_ACP;
    const int units = MultiByteToWideChar(
        page, 0, lines.data(), static_cast<int>(lines.size()), nullptr, 0);
    if (units <= 0) {
      WriteBytes(text);
      return;
    }
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    MultiByteToWideChar(page, 0, lines.data(), static_cast<int>(lines.size()),
                        &wide[0], units);
    // What the stream still holds goes first.
    std::fflush(stdout);
    DWORD written = 0;
    if (!WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()),
                       &written, nullptr)) {
      WriteBytes(text);
    }
  } catch (...) {
    WriteBytes(text);  // memory exhaustion: the bytes as they are
  }
}

}  // namespace platform

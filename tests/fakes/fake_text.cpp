// The emulated ANSI code page: ASCII maps to itself, the rest to '?'.
#include "platform/text.h"

namespace platform {

std::string WideToAnsi(const wchar_t* text, std::size_t length, CodePage) {
  std::string narrow;
  narrow.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    const auto unit = static_cast<unsigned long>(text[i]);
    narrow += unit < 0x80 ? static_cast<char>(unit) : '?';
  }
  return narrow;
}

}  // namespace platform

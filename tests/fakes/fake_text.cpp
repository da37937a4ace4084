// The emulated ANSI code page: ASCII maps to itself, the rest to '?' one way
// and to U+FFFD the other.
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

std::string AnsiToUtf8(std::string_view text, CodePage) {
  std::string utf8;
  utf8.reserve(text.size());
  for (const char c : text) {
    if (static_cast<unsigned char>(c) < 0x80) {
      utf8 += c;
    } else {
      utf8 += "\xEF\xBF\xBD";
    }
  }
  return utf8;
}

}  // namespace platform

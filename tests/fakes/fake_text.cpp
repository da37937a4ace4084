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

std::string WideToUtf8(const std::wstring& text) {
  return WideToAnsi(text, CodePage::kActive);
}

// Only ASCII passes either way: the rest is '?', one for each byte.
std::string AnsiToUtf8(const std::string& text, CodePage) {
  std::string utf8 = text;
  for (char& c : utf8) {
    if (static_cast<unsigned char>(c) >= 0x80) c = '?';
  }
  return utf8;
}

std::string Utf8ToAnsi(const std::string& text, CodePage page) {
  return AnsiToUtf8(text, page);
}

}  // namespace platform

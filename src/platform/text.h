// Conversions between wide text (UTF-16 on Windows), narrow text in an ANSI
// code page and UTF-8, the form the record's texts take.
#ifndef DIDUROZIR_PLATFORM_TEXT_H_
#define DIDUROZIR_PLATFORM_TEXT_H_

#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

enum class CodePage {
  kActive,  // the process's ANSI code page (CP_ACP)
  kThread,  // the calling thread's ANSI code page (CP_THREAD_ACP)
};

// Converts `length` wide units of `text` to narrow text in `page`. A character
// the code page lacks becomes the code page's default character; no flags.
std::string WideToAnsi(const wchar_t* text, std::size_t length, CodePage page);

inline std::string WideToAnsi(const std::wstring& text, CodePage page) {
  return WideToAnsi(text.data(), text.size(), page);
}

// Converts narrow text made in `page` to UTF-8, every character of the code
// page kept (a double-byte character whole); a byte that the code page does
// not define becomes the system's replacement for it.
std::string AnsiToUtf8(std::string_view text, CodePage page);

// Converts `length` wide units of `text` to UTF-8. Wide text is UTF-16 on
// Windows: a surrogate pair becomes its one character, a lone surrogate
// U+FFFD. (Units beyond 16 bits, as wchar_t has elsewhere, are taken as
// characters.) Portable: no code page is involved.
std::string WideToUtf8(const wchar_t* text, std::size_t length);

inline std::string WideToUtf8(const std::wstring& text) {
  return WideToUtf8(text.data(), text.size());
}

// Converts UTF-8 to UTF-16, at most `maxUnits` units: the text is cut before
// the first character that does not fit whole, never between the two halves
// of a surrogate pair. Each ill-formed sequence (a stray byte, a cut or
// overlong sequence, a surrogate, a value beyond U+10FFFF) becomes one U+FFFD
// per maximal ill-formed part, as Unicode recommends. Portable.
std::u16string Utf8ToUtf16(std::string_view text, std::size_t maxUnits);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_TEXT_H_

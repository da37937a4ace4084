// Conversion of wide (UTF-16 on Windows) text to narrow text, and between
// the ANSI code page and UTF-8.
#ifndef DIDUROZIR_PLATFORM_TEXT_H_
#define DIDUROZIR_PLATFORM_TEXT_H_

#include <cstddef>
#include <string>

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

// UTF-8 forms, for texts that must keep every character: the audit's
// findings. A text the conversion can't take gives an empty result.
std::string WideToUtf8(const std::wstring& text);
std::string AnsiToUtf8(const std::string& text, CodePage page);
// Back to the ANSI code page, for the console and the Event Log; a character
// the code page lacks becomes its default character.
std::string Utf8ToAnsi(const std::string& text, CodePage page);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_TEXT_H_

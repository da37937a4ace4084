// Conversion of wide (UTF-16 on Windows) text to narrow text.
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

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_TEXT_H_

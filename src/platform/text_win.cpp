#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace platform {
namespace {

UINT CodePageId(CodePage page) {
  return page == CodePage::kThread ? CP_THREAD_ACP : CP_ACP;
}

}  // namespace

std::string WideToAnsi(const wchar_t* text, std::size_t length, CodePage page) {
  if (length == 0 || length > INT_MAX) return std::string();
  const UINT code_page = CodePageId(page);
  const int wide_length = static_cast<int>(length);
  const int size = WideCharToMultiByte(code_page, 0, text, wide_length, nullptr,
                                       0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, text, wide_length, &narrow[0], size,
                      nullptr, nullptr);
  return narrow;
}

std::string AnsiToUtf8(std::string_view text, CodePage page) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  // By way of UTF-16, in the code page the text was made in: a double-byte
  // character stays whole, as it would not if its bytes were taken apart.
  const UINT code_page = CodePageId(page);
  const int narrow_length = static_cast<int>(text.size());
  const int size =
      MultiByteToWideChar(code_page, 0, text.data(), narrow_length, nullptr, 0);
  if (size <= 0) return std::string();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), narrow_length, &wide[0], size);
  return WideToUtf8(wide);
}

}  // namespace platform

#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace platform {

std::string WideToAnsi(const wchar_t* text, std::size_t length,
                       CodePage page) {
  if (length == 0 || length > INT_MAX) return std::string();
  const UINT code_page = page == CodePage::kThread ? CP_THREAD_ACP : CP_ACP;
  const int wide_length = static_cast<int>(length);
  const int size = WideCharToMultiByte(code_page, 0, text, wide_length,
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, text, wide_length, &narrow[0], size,
                      nullptr, nullptr);
  return narrow;
}

}  // namespace platform

#include <windows.h>

#include <climits>

#include "platform/text.h"

namespace platform {

std::string WideToAnsi(const wchar_t* text, std::size_t length, CodePage page) {
  if (length == 0 || length > INT_MAX) return std::string();
  const UINT code_page = page == CodePage::kThread ? CP_THREAD_ACP : CP_ACP;
  const int wide_length = static_cast<int>(length);
  const int size = WideCharToMultiByte(code_page, 0, text, wide_length, nullptr,
                                       0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, text, wide_length, &narrow[0], size,
                      nullptr, nullptr);
  return narrow;
}

namespace {

std::wstring ToWide(const std::string& text, UINT code_page) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int length = static_cast<int>(text.size());
  const int size =
      MultiByteToWideChar(code_page, 0, text.data(), length, nullptr, 0);
  if (size <= 0) return std::wstring();
  std::wstring wide(static_cast<std::size_t>(size), L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), length, &wide[0], size);
  return wide;
}

std::string ToNarrow(const std::wstring& text, UINT code_page) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  const int length = static_cast<int>(text.size());
  const int size = WideCharToMultiByte(code_page, 0, text.data(), length,
                                       nullptr, 0, nullptr, nullptr);
  if (size <= 0) return std::string();
  std::string narrow(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, text.data(), length, &narrow[0], size,
                      nullptr, nullptr);
  return narrow;
}

UINT AnsiPage(CodePage page) {
  return page == CodePage::kThread ? CP_THREAD_ACP : CP_ACP;
}

}  // namespace

std::string WideToUtf8(const std::wstring& text) {
  return ToNarrow(text, CP_UTF8);
}

std::string AnsiToUtf8(const std::string& text, CodePage page) {
  return ToNarrow(ToWide(text, AnsiPage(page)), CP_UTF8);
}

std::string Utf8ToAnsi(const std::string& text, CodePage page) {
  return WideToAnsi(ToWide(text, CP_UTF8), page);
}

}  // namespace platform

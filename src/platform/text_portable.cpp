// The UTF-8 and UTF-16 conversions: pure computation, the same in every build
// (the fakes' too), so that the native tests check what Windows runs.
#include <cstdint>

#include "platform/text.h"

namespace platform {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    *out += static_cast<char>(c);
  } else if (c < 0x800) {
    *out += static_cast<char>(0xC0 | (c >> 6));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    *out += static_cast<char>(0xE0 | (c >> 12));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (c >> 18));
    *out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

bool IsHighSurrogate(std::uint32_t unit) {
  return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(std::uint32_t unit) {
  return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The next character of `text` from `*at`, which it moves past the character
// or past the maximal ill-formed part that gives U+FFFD (the well-formed
// byte sequences of the Unicode standard, table 3-7).
char32_t NextUtf8(std::string_view text, std::size_t* at) {
  const auto byte = [&text](std::size_t i) {
    return static_cast<unsigned char>(text[i]);
  };
  const unsigned char lead = byte(*at);
  ++*at;
  if (lead < 0x80) return lead;
  char32_t c = 0;
  int trailing = 0;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    c = lead & 0x1F;
    trailing = 1;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    c = lead & 0x0F;
    trailing = 2;
    if (lead == 0xE0) low = 0xA0;   // overlong below it
    if (lead == 0xED) high = 0x9F;  // surrogates above it
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    c = lead & 0x07;
    trailing = 3;
    if (lead == 0xF0) low = 0x90;   // overlong below it
    if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF above it
  } else {
    return kReplacement;  // a stray continuation byte, C0, C1, F5 to FF
  }
  for (int i = 0; i < trailing; ++i) {
    if (*at >= text.size() || byte(*at) < low || byte(*at) > high) {
      return kReplacement;  // the next byte starts afresh
    }
    c = (c << 6) | (byte(*at) & 0x3F);
    ++*at;
    low = 0x80;
    high = 0xBF;
  }
  return c;
}

}  // namespace

std::string WideToUtf8(const wchar_t* text, std::size_t length) {
  std::string utf8;
  utf8.reserve(length);
  for (std::size_t i = 0; i < length; ++i) {
    const auto unit = static_cast<std::uint32_t>(text[i]);
    if (IsHighSurrogate(unit) && i + 1 < length &&
        IsLowSurrogate(static_cast<std::uint32_t>(text[i + 1]))) {
      const auto low = static_cast<std::uint32_t>(text[++i]);
      AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00), &utf8);
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit) ||
               unit > 0x10FFFF) {
      AppendUtf8(kReplacement, &utf8);
    } else {
      AppendUtf8(unit, &utf8);
    }
  }
  return utf8;
}

std::u16string Utf8ToUtf16(std::string_view text, std::size_t maxUnits) {
  std::u16string utf16;
  utf16.reserve(text.size() < maxUnits ? text.size() : maxUnits);
  std::size_t at = 0;
  while (at < text.size()) {
    const char32_t c = NextUtf8(text, &at);
    if (c < 0x10000) {
      if (utf16.size() + 1 > maxUnits) break;
      utf16 += static_cast<char16_t>(c);
    } else {
      if (utf16.size() + 2 > maxUnits) break;  // both halves or neither
      utf16 += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
      utf16 += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
    }
  }
  return utf16;
}

}  // namespace platform

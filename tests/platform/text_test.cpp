// The record's text conversions: UTF-16 (and wide text) to UTF-8 and back,
// each insert cut at the Event Log's limit on a character's boundary.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using platform::Utf8ToUtf16;
using platform::WideToUtf8;

const std::string kReplacement = "\xEF\xBF\xBD";

TEST(Utf8ToUtf16, KeepsEveryCharacterAndCutsOnlyBetweenThem) {
  const struct {
    const char* what;
    std::string utf8;
    std::size_t limit;
    std::u16string utf16;
  } cases[] = {
      {"ASCII", "riduvuruz.exe", 100, u"riduvuruz.exe"},
      {"two bytes: a-ring", "b\xC3\xA5r.exe", 100, u"b\u00E5r.exe"},
      {"three bytes: CJK", "\xE4\xB8\xAD.exe", 100, u"\u4E2D.exe"},
      {"four bytes: a pair", "\xF0\x9F\x98\x80", 100, u"\xD83D\xDE00"},
      {"empty", "", 100, u""},
      {"cut exactly at the limit", "abcd", 3, u"abc"},
      {"a pair that fits whole", "ab\xF0\x9F\x98\x80", 4, u"ab\xD83D\xDE00"},
      {"a pair one unit short: both halves go",
       "ab\xF0\x9F\x98\x80"
       "c",
       3, u"ab"},
      {"nothing after a pair cut off", "a\xF0\x9F\x98\x80z", 2, u"a"},
      {"CJK cut whole", "a\xE4\xB8\xAD\xE6\x96\x87", 2, u"a\u4E2D"},
      {"no room at all", "\xC3\xA5", 0, u""},
      // Each maximal ill-formed part becomes one U+FFFD; the text goes on.
      {"a stray byte",
       "a\xFF"
       "b",
       100, u"a\uFFFDb"},
      {"a stray continuation",
       "a\x80"
       "b",
       100, u"a\uFFFDb"},
      {"a lead at the end", "a\xC3", 100, u"a\uFFFD"},
      {"a cut three-byte sequence", "\xE4\xB8x", 100, u"\uFFFDx"},
      {"a cut four-byte sequence", "\xF0\x9F\x98x", 100, u"\uFFFDx"},
      {"overlong", "\xC0\xAF", 100, u"\uFFFD\uFFFD"},
      {"overlong three bytes", "\xE0\x80\xAF", 100, u"\uFFFD\uFFFD\uFFFD"},
      {"an encoded surrogate", "\xED\xA0\x80", 100, u"\uFFFD\uFFFD\uFFFD"},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", 100, u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"the last character", "\xF4\x8F\xBF\xBF", 100, u"\xDBFF\xDFFF"},
      {"a replacement counts as one unit", "\xFF\xFF\xFF", 2, u"\uFFFD\uFFFD"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Utf8ToUtf16(c.utf8, c.limit), c.utf16) << c.what;
  }
}

// The Event Log's own limit, as WriteEvent uses it: a pair that would end
// right past it is left out whole.
TEST(Utf8ToUtf16, AnInsertAtTheLogsLimitEndsBeforeAPairItWouldSplit) {
  const std::size_t limit = 31000;
  const std::string text =
      std::string(limit - 1, 'x') + "\xF0\x9F\x98\x80" + "tail";
  const std::u16string cut = Utf8ToUtf16(text, limit);
  EXPECT_EQ(cut, std::u16string(limit - 1, u'x'));
  EXPECT_EQ(Utf8ToUtf16(std::string(40000, 'y'), limit).size(), limit);
}

TEST(WideToUtf8, ConvertsCharactersAndPairsAndMarksLoneSurrogates) {
  const struct {
    const char* what;
    std::wstring wide;
    std::string utf8;
  } cases[] = {
      {"ASCII", L"leftover.exe", "leftover.exe"},
      {"a-ring", L"b\u00E5r.exe", "b\xC3\xA5r.exe"},
      {"CJK", L"\u4E2D\u6587", "\xE4\xB8\xAD\xE6\x96\x87"},
      {"beyond the BMP", L"\U0001F600", "\xF0\x9F\x98\x80"},
      {"a pair as two units", std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)},
       "\xF0\x9F\x98\x80"},
      {"a lone high surrogate at the end", std::wstring{L'a', wchar_t(0xD83D)},
       "a" + kReplacement},
      {"a high surrogate before a letter", std::wstring{wchar_t(0xD83D), L'a'},
       kReplacement + "a"},
      {"a lone low surrogate", std::wstring{wchar_t(0xDE00), L'a'},
       kReplacement + "a"},
      {"empty", L"", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WideToUtf8(c.wide), c.utf8) << c.what;
    // And back, for well-formed text.
    if (c.utf8.find(kReplacement) == std::string::npos) {
      const std::u16string utf16 = Utf8ToUtf16(c.utf8, 100);
      EXPECT_EQ(WideToUtf8(std::wstring(utf16.begin(), utf16.end())), c.utf8)
          << c.what;
    }
  }
  // Only `length` units count, a NUL among them too.
  EXPECT_EQ(WideToUtf8(L"ab\0cd", 4), std::string("ab\0c", 4));
}

#ifdef _WIN32
// Narrow text goes through the code page it was made in: under Wine's
// Western code page 1252 0xE5 is the a-ring.
TEST(AnsiToUtf8, UsesTheCodePageTheTextWasMadeIn) {
  if (GetACP() != 1252) GTEST_SKIP() << "code page " << GetACP();
  EXPECT_EQ(platform::AnsiToUtf8("b\xE5r.exe", platform::CodePage::kActive),
            "b\xC3\xA5r.exe");
  EXPECT_EQ(platform::AnsiToUtf8("C:\\x", platform::CodePage::kThread),
            "C:\\x");
  EXPECT_EQ(platform::AnsiToUtf8("", platform::CodePage::kThread), "");
}
#endif

}  // namespace

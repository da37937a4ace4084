// UTF-8 conversions of the audit's texts: every character kept on the way
// from UTF-16, ASCII unchanged through the ANSI code page and back.
#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TextTest, WideToUtf8KeepsEveryCharacter) {
  EXPECT_EQ(platform::WideToUtf8(L""), "");
  EXPECT_EQ(platform::WideToUtf8(L"C:\\Agent"), "C:\\Agent");
  EXPECT_EQ(platform::WideToUtf8(L"Caf\u00e9"), "Caf\xc3\xa9");
  EXPECT_EQ(platform::WideToUtf8(L"\u4e2d"), "\xe4\xb8\xad");
  EXPECT_EQ(platform::WideToUtf8(L"\U0001F600"), "\xf0\x9f\x98\x80");
}

TEST(TextTest, AnsiAndUtf8RoundTripAscii) {
  for (const platform::CodePage page :
       {platform::CodePage::kActive, platform::CodePage::kThread}) {
    const std::string text = "C:\\Program Files\\Q Agent\\riduvuruz.exe -start";
    EXPECT_EQ(platform::AnsiToUtf8(text, page), text);
    EXPECT_EQ(platform::Utf8ToAnsi(text, page), text);
    EXPECT_EQ(platform::AnsiToUtf8("", page), "");
    EXPECT_EQ(platform::Utf8ToAnsi("", page), "");
  }
}

}  // namespace

#include <cstring>
#include <string>

#include "service_fixture.h"

namespace {

using ErrorTextTest = ServiceFixture;

TEST_F(ErrorTextTest, GivesTheSystemsTextWithItsLineBreak) {
  EXPECT_STREQ(SystemErrorText(258), "The wait operation timed out.\r\n");
  EXPECT_STREQ(SystemErrorText(6), "The handle is invalid.\r\n");
  EXPECT_EQ(system().messagesFreed, system().messagesFormatted);
}

TEST_F(ErrorTextTest, NamesACodeTheSystemHasNoTextFor) {
  system().messages.erase(258);
  const std::string text = SystemErrorText(258);
  EXPECT_NE(text.find("258"), std::string::npos) << text;
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

TEST_F(ErrorTextTest, AnEmptySystemTextCountsAsNone) {
  system().messages[42] = L"";
  const std::string text = SystemErrorText(42);
  EXPECT_NE(text.find("42"), std::string::npos) << text;
  EXPECT_EQ(system().messagesFreed, 1);
}

TEST_F(ErrorTextTest, EachCallReplacesTheLast) {
  const char* first = SystemErrorText(6);
  SystemErrorText(1060);
  EXPECT_STREQ(first,
               "The specified service does not exist as an installed "
               "service.\r\n");
}

TEST_F(ErrorTextTest, ConvertsToTheActiveCodePage) {
  system().messages[5] = L"Zugriff verweigert \u00e4.\r\n";
  EXPECT_STREQ(SystemErrorText(5), "Zugriff verweigert ?.\r\n");
}

// A text longer than the 1023 bytes there is room for: cut between
// characters and terminated.
TEST_F(ErrorTextTest, ALongTextIsCutToFit) {
  system().messages[7] = std::wstring(3000, L'x') + L"\r\n";
  const char* text = SystemErrorText(7);
  EXPECT_EQ(std::strlen(text), kErrorTextCapacity - 1);
  EXPECT_EQ(std::string(text), std::string(kErrorTextCapacity - 1, 'x'));
}

TEST_F(ErrorTextTest, ATextThatJustFitsIsWhole) {
  const std::wstring wide =
      std::wstring(kErrorTextCapacity - 3, L'y') + L"\r\n";
  system().messages[8] = wide;
  EXPECT_EQ(std::strlen(SystemErrorText(8)), kErrorTextCapacity - 1);
}

TEST_F(ErrorTextTest, TheCutNeverSplitsASurrogatePair) {
  // The pair would take bytes 1023 and 1024: it goes whole.
  std::wstring wide(kErrorTextCapacity - 2, L'z');
  wide += static_cast<wchar_t>(0xD83D);
  wide += static_cast<wchar_t>(0xDE00);
  wide += L"tail\r\n";
  system().messages[9] = wide;
  EXPECT_EQ(std::string(SystemErrorText(9)),
            std::string(kErrorTextCapacity - 2, 'z'));
}

}  // namespace

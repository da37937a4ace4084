#include "platform/pipe.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fixtures/listing.h"

namespace {

std::string ReadAll(const char* command) {
  platform::ScopedReadPipe pipe(platform::OpenReadPipe(command));
  EXPECT_TRUE(pipe.IsValid());
  std::string out;
  char buffer[1024];
  while (pipe.IsValid() && platform::ReadPipeLine(pipe.Get(), buffer, 1024)) {
    out += buffer;
  }
  return out;
}

// A command that writes fixtures::ListingLines(): print_listing.exe with
// CR LF line ends on Windows, the shell's printf with LF natively.
std::string ListingCommand() {
#ifdef _WIN32
  std::string path = DIDUROZIR_PRINT_LISTING;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return "\"" + path + "\"";
#else
  std::string format;
  for (const std::string& line : fixtures::ListingLines()) {
    for (const char c : line) {
      if (c == '\0') {
        format += "\\000";
      } else {
        format += c;
      }
    }
    format += "\\n";
  }
  return "printf '" + format + "'";
#endif
}

TEST(ReadPipe, ReadsTheWholeOutputAsLineFeeds) {
  EXPECT_EQ(ReadAll("echo one&& echo two"), "one\ntwo\n");
}

TEST(ReadPipe, ReadsAtMostCountMinusOneBytesAndStopsAfterALineFeed) {
  platform::ScopedReadPipe pipe(
      platform::OpenReadPipe(ListingCommand().c_str()));
  ASSERT_TRUE(pipe.IsValid());
  std::vector<std::string> pieces;
  char buffer[1024];
  while (platform::ReadPipeLine(pipe.Get(), buffer, sizeof buffer)) {
    pieces.emplace_back(buffer);
  }
  EXPECT_EQ(pieces, fixtures::ListingPieces());
}

}  // namespace

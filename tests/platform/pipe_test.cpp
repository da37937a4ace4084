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

TEST(ReadPipe, ReadsTheWholeOutputAsLineFeeds) {
  EXPECT_EQ(ReadAll("echo one&& echo two"), "one\ntwo\n");
}

TEST(ReadPipe, ReadsAtMostCountMinusOneBytesAndStopsAfterALineFeed) {
  platform::ScopedReadPipe pipe(
      platform::OpenReadPipe(fixtures::ListingCommand().c_str()));
  ASSERT_TRUE(pipe.IsValid());
  std::vector<std::string> pieces;
  char buffer[1024];
  while (platform::ReadPipeLine(pipe.Get(), buffer, sizeof buffer)) {
    pieces.emplace_back(buffer);
  }
  EXPECT_EQ(pieces, fixtures::ListingPieces());
}

}  // namespace

#include "platform/pipe.h"

#include <gtest/gtest.h>

#include <string>

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

}  // namespace

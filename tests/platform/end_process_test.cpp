// Ending the process while another thread runs: the exit code arrives, the
// standard output is flushed, and no static object is destroyed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace {

TEST(EndProcess, FlushesAndEndsWithoutDestroyingStatics) {
  const std::string command = std::string("\"") + DIDUROZIR_END_PROCESS + "\"";
  std::FILE* pipe = _popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  EXPECT_EQ(_pclose(pipe), 7);
  EXPECT_EQ(output, "flushed\n");
}

}  // namespace

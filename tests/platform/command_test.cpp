// The real command processor: cmd.exe under Wine, /bin/sh natively.
#include "platform/command.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <string>

namespace {

TEST(RunCommand, ReturnsAfterTheCommandHasEnded) {
  const boost::filesystem::path path =
      boost::filesystem::temp_directory_path() /
      boost::filesystem::unique_path("didurozir-command-%%%%-%%%%.txt");

  platform::RunCommand(("echo made> \"" + path.string() + "\"").c_str());

  std::ifstream file(path.string());
  std::string line;
  EXPECT_TRUE(std::getline(file, line));
  EXPECT_EQ(line.substr(0, 4), "made");
  file.close();
  boost::filesystem::remove(path);
}

TEST(RunCommand, FailingCommandIsNotAnError) {
  EXPECT_NO_THROW(platform::RunCommand("exit 3"));
}

}  // namespace

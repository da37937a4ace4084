// The real existence query of the build's target (under Wine for Windows):
// only "no such file or path" is absent; what the system cannot answer is
// unknown, with its error code, never taken for absent.
#include "platform/file.h"

#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <cstdint>
#include <fstream>
#include <string>

namespace {

namespace fs = boost::filesystem;
using platform::PathExistence;

TEST(QueryPathExistence, TellsExistingAbsentAndUnknownApart) {
  const fs::path dir = fs::temp_directory_path() /
                       fs::unique_path("didurozir-file-%%%%-%%%%-%%%%-%%%%");
  fs::create_directories(dir / "folder");
#ifdef _WIN32
  // Made by its UTF-16 name, asked for in the code page of the file
  // functions.
  const fs::path nonAscii = dir / L"f\u00f6lder";
  fs::create_directories(nonAscii);
#endif
  std::ofstream((dir / "server.conf").string()) << "{}";
  const std::string base = dir.string() + platform::kPathSeparator;
  const struct {
    const char* what;
    std::string path;
    PathExistence expected;
  } cases[] = {
      {"a file", base + "server.conf", PathExistence::kExists},
      {"a folder", base + "folder", PathExistence::kExists},
      {"nothing of that name", base + "missing.conf", PathExistence::kAbsent},
      {"a folder on the way missing",
       base + "missing" + platform::kPathSeparator + "server.conf",
       PathExistence::kAbsent},
      {"a file where a folder should be",
       base + "server.conf" + platform::kPathSeparator + "server.conf",
       PathExistence::kAbsent},
#ifdef _WIN32
      {"a name outside ASCII", nonAscii.string(), PathExistence::kExists},
      // A share whose server does not answer, and a name Windows refuses.
      {"a share that does not answer",
       "\\\\didurozir-no-such-host.invalid\\conf\\server.conf",
       PathExistence::kUnknown},
      {"a name with a character Windows refuses", base + "a<b>\\server.conf",
       PathExistence::kUnknown},
#else
      {"a name longer than the file system allows",
       base + std::string(300, 'x') + platform::kPathSeparator + "server.conf",
       PathExistence::kUnknown},
#endif
  };
  for (const auto& c : cases) {
    std::uint32_t error = 0;
    EXPECT_EQ(platform::QueryPathExistence(c.path, &error), c.expected)
        << c.what;
    EXPECT_EQ(error != 0, c.expected == PathExistence::kUnknown)
        << c.what << ": " << error;
  }
  boost::system::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace

// CNetstat::Capture over the real pipe, with a stand-in "netstat" placed first
// on PATH that prints the test listing.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <cstdlib>
#include <fstream>
#include <string>

#include "fixtures/listing.h"
#include "netstat/netstat.h"

namespace {

namespace fs = boost::filesystem;

#ifdef _WIN32
constexpr char kPathListSeparator = ';';
constexpr char kStandInName[] = "netstat.cmd";
#else
constexpr char kPathListSeparator = ':';
constexpr char kStandInName[] = "netstat";
#endif

void SetPath(const std::string& value) {
#ifdef _WIN32
  _putenv_s("PATH", value.c_str());
#else
  setenv("PATH", value.c_str(), 1);
#endif
}

// Puts a "netstat" that prints the listing first on PATH for its lifetime.
class StandInNetstat {
 public:
  StandInNetstat()
      : folder_(fs::temp_directory_path() /
                fs::unique_path("didurozir-netstat-%%%%-%%%%-%%%%-%%%%")) {
    fs::create_directories(folder_);
    const fs::path script = folder_ / kStandInName;
    {
      std::ofstream out(script.string(), std::ios::binary);
#ifdef _WIN32
      out << "@" << fixtures::ListingCommand() << "\r\n";
#else
      out << "#!/bin/sh\n" << fixtures::ListingCommand() << "\n";
#endif
    }
    fs::permissions(script, fs::owner_all);
    const char* path = std::getenv("PATH");
    savedPath_ = path == nullptr ? "" : path;
    SetPath(folder_.string() + kPathListSeparator + savedPath_);
  }
  ~StandInNetstat() {
    SetPath(savedPath_);
    boost::system::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  StandInNetstat(const StandInNetstat&) = delete;
  StandInNetstat& operator=(const StandInNetstat&) = delete;

 private:
  fs::path folder_;
  std::string savedPath_;
};

TEST(NetstatCapture, ReadsTheListingOfNetstat) {
  const StandInNetstat netstat;
  CNetstat table;
  table.Capture();

  std::string expected;
  for (const std::string& piece : fixtures::ListingPieces()) expected += piece;
  EXPECT_EQ(table.text, expected);

  ASSERT_TRUE(table.TrimToFirstTcp());
  table.BuildIndex();
  EXPECT_EQ(table.FindPids({"4033", "4044", "4045", "4046"}),
            (PidSet{"1000", "77", "884", "912"}));
}

}  // namespace

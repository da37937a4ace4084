#include "netstat/netstat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fake_pipe.h"

namespace {

using namespace std::string_literals;

// A listing as "netstat -ano" prints it, after the text-mode read.
const std::string kListing =
    "\n"
    "Active Connections\n"
    "\n"
    "  Proto  Local Address          Foreign Address        State           "
    "PID\n"
    "  TCP    0.0.0.0:4033           0.0.0.0:0              LISTENING       "
    "884\n"
    "  TCP    127.0.0.1:4033         127.0.0.1:600          ESTABLISHED     "
    "884\n"
    "  TCP    127.0.0.1:600          127.0.0.1:4033         ESTABLISHED     "
    "912\n"
    "  TCP    127.0.0.1:4033         127.0.0.1:601          TIME_WAIT       "
    "0\n"
    "  TCP    [::]:4033              [::]:0                 LISTENING       "
    "884\n"
    "  TCP    [::1]:4033             [::1]:600              ESTABLISHED     "
    "884\n"
    "  UDP    0.0.0.0:4033           *:*                                    "
    "884\n"
    "  UDP    [::]:4033              *:*                                    "
    "884\n";

class NetstatTest : public ::testing::Test {
 protected:
  void SetUp() override { fakes::Pipe().Reset(); }

  // The supervision cycle's use of a table, over `output`.
  static PidSet PidsHolding(const std::string& output, const PortSet& ports) {
    fakes::Pipe().output = output;
    CNetstat table;
    table.Capture();
    if (table.TrimToFirstTcp()) table.BuildIndex();
    return table.FindPids(ports);
  }

  static CNetstat IndexOf(const std::string& text) {
    CNetstat table;
    table.text = text;
    table.BuildIndex();
    return table;
  }

  // The PIDs of the records under `port`, in line order.
  static std::vector<std::string> PidsUnder(const CNetstat& table,
                                            const std::string& port) {
    std::vector<std::string> pids;
    const auto slot = table.portIndex.find(port);
    if (slot == table.portIndex.end()) return pids;
    for (const auto& record : slot->second) {
      EXPECT_EQ(record->localPort, port);
      pids.push_back(record->pid);
    }
    return pids;
  }
};

TEST_F(NetstatTest, CaptureRunsNetstatAndClosesThePipe) {
  fakes::Pipe().output = kListing;
  CNetstat table;
  table.Capture();
  EXPECT_EQ(table.text, kListing);
  EXPECT_EQ(fakes::Pipe().commands, std::vector<std::string>{"netstat -ano"});
  EXPECT_EQ(fakes::Pipe().opened, 1);
  EXPECT_EQ(fakes::Pipe().closed, 1);
}

TEST_F(NetstatTest, CaptureAppendsToTheText) {
  fakes::Pipe().output = "b\n";
  CNetstat table;
  table.text = "a\n";
  table.Capture();
  EXPECT_EQ(table.text, "a\nb\n");
}

TEST_F(NetstatTest, CaptureJoinsALongLineReadInPieces) {
  const std::string longLine = "  TCP    0.0.0.0:4033  0.0.0.0:0  LISTENING  " +
                               std::string(3000, ' ') + "77";
  fakes::Pipe().output = "TCP\n" + longLine + "\nend\n";
  CNetstat table;
  table.Capture();
  EXPECT_EQ(table.text, fakes::Pipe().output);
  // "TCP\n", three pieces of at most 1023 bytes, "end\n".
  EXPECT_EQ(fakes::Pipe().reads, 5);
  ASSERT_TRUE(table.TrimToFirstTcp());
  table.BuildIndex();
  EXPECT_EQ(PidsUnder(table, "4033"), std::vector<std::string>{"77"});
}

TEST_F(NetstatTest, CaptureDropsTheRestOfAReadAfterANul) {
  fakes::Pipe().output =
      "  TCP 0.0.0.0:80 0.0.0.0:0 LISTENING 4\0xx\n"s
      "  TCP 0.0.0.0:81 0.0.0.0:0 LISTENING 5\n";
  CNetstat table;
  table.Capture();
  EXPECT_EQ(table.text,
            "  TCP 0.0.0.0:80 0.0.0.0:0 LISTENING 4"
            "  TCP 0.0.0.0:81 0.0.0.0:0 LISTENING 5\n");
}

TEST_F(NetstatTest, CarriageReturnThatReachesTheParseStaysInThePid) {
  const std::string output =
      "  TCP    0.0.0.0:4033   0.0.0.0:0   LISTENING   884\r\n"
      "  TCP    0.0.0.0:4044   0.0.0.0:0   LISTENING   885\n";
  EXPECT_EQ(PidsHolding(output, {"4033", "4044"}), (PidSet{"884\r", "885"}));
}

TEST_F(NetstatTest, PipeThatFailsToOpenGivesAnEmptyTable) {
  fakes::Pipe().failOpen = true;
  fakes::Pipe().output = kListing;
  CNetstat table;
  table.Capture();
  EXPECT_EQ(table.text, "");
  EXPECT_EQ(fakes::Pipe().closed, 0);
  EXPECT_TRUE(PidsHolding(kListing, {"4033"}).empty());
}

TEST_F(NetstatTest, OutputWithoutASocketRowGivesNoPids) {
  for (const std::string& output :
       {""s, "T"s, "TC"s, "Active Connections\n\n  Proto  Local Address\n"s,
        "  tcp 0.0.0.0:4033 0.0.0.0:0 LISTENING 884\n"s}) {
    EXPECT_TRUE(PidsHolding(output, {"4033"}).empty()) << output;
  }
}

TEST_F(NetstatTest, TrimCutsTextToItsFirstTcp) {
  struct Case {
    std::string text;
    bool found;
    std::string after;
  };
  const Case cases[] = {
      {"", false, ""},
      {"TC", false, "TC"},
      {"tcp UDP", false, "tcp UDP"},
      {"TCP", true, "TCP"},
      {"x\n  TCP a\n  TCP b", true, "TCP a\n  TCP b"},
      {kListing, true, kListing.substr(kListing.find("TCP"))},
  };
  for (const Case& c : cases) {
    CNetstat table;
    table.text = c.text;
    EXPECT_EQ(table.TrimToFirstTcp(), c.found) << c.text;
    EXPECT_EQ(table.text, c.after);
  }
}

TEST_F(NetstatTest, IndexKeysEveryParsedLineByItsLocalPort) {
  CNetstat table;
  table.text = kListing;
  ASSERT_TRUE(table.TrimToFirstTcp());
  table.BuildIndex();
  EXPECT_EQ(PidsUnder(table, "4033"),
            (std::vector<std::string>{"884", "884", "0", "884"}));
  EXPECT_EQ(PidsUnder(table, "600"), std::vector<std::string>{"912"});
  EXPECT_EQ(PidsUnder(table, ":]:4033"),
            (std::vector<std::string>{"884", "884"}));
  EXPECT_EQ(PidsUnder(table, ":1]:4033"), std::vector<std::string>{"884"});
  EXPECT_EQ(table.portIndex.size(), 4u);
}

TEST_F(NetstatTest, IndexSkipsBlankLines) {
  const CNetstat table = IndexOf(
      "\n\nTCP 0.0.0.0:1 0.0.0.0:0 L 7\n\n\n"
      "TCP 0.0.0.0:1 0.0.0.0:0 L 8\n\n");
  EXPECT_EQ(PidsUnder(table, "1"), (std::vector<std::string>{"7", "8"}));
  EXPECT_EQ(table.portIndex.size(), 1u);
  // Without a final line feed the last line still counts; a line of spaces
  // is not blank.
  const CNetstat unterminated = IndexOf("TCP 0.0.0.0:1 0.0.0.0:0 L 7\n  ");
  EXPECT_EQ(PidsUnder(unterminated, "1"), std::vector<std::string>{"7"});
  EXPECT_EQ(PidsUnder(unterminated, ""), std::vector<std::string>{""});
}

TEST_F(NetstatTest, FindsThePidsOfWatchedLocalPorts) {
  const PortSet watched = {"4033", "36039", "4044", "8080"};
  EXPECT_EQ(PidsHolding(kListing, watched), (PidSet{"0", "884"}));
  // A watched foreign port selects nothing.
  EXPECT_EQ(PidsHolding(kListing, {"601"}), PidSet{});
  EXPECT_EQ(PidsHolding(kListing, {"600"}), PidSet{"912"});
  EXPECT_EQ(PidsHolding(kListing, {":]:4033"}), PidSet{"884"});
  EXPECT_EQ(PidsHolding(kListing, {}), PidSet{});
}

TEST_F(NetstatTest, PidsComeInByteOrder) {
  const std::string output =
      "  TCP    0.0.0.0:80     0.0.0.0:0   LISTENING   884\n"
      "  TCP    0.0.0.0:443    0.0.0.0:0   LISTENING   1000\n"
      "  TCP    0.0.0.0:8443   0.0.0.0:0   LISTENING   99\n"
      "  TCP    0.0.0.0:8443   0.0.0.0:0   LISTENING   1000\n";
  const PidSet pids = PidsHolding(output, {" 8443", "443", "80", "8443"});
  EXPECT_EQ(std::vector<std::string>(pids.begin(), pids.end()),
            (std::vector<std::string>{"1000", "884", "99"}));
}

TEST_F(NetstatTest, PortsMatchByExactBytes) {
  const std::string output =
      "  TCP    0.0.0.0:4033   0.0.0.0:0   LISTENING   1\n"
      "  TCP    0.0.0.0:04033  0.0.0.0:0   LISTENING   2\n"
      "  TCP    0.0.0.0:40330  0.0.0.0:0   LISTENING   3\n";
  EXPECT_EQ(PidsHolding(output, {"4033"}), PidSet{"1"});
  EXPECT_EQ(PidsHolding(output, {"403", "4033.0", " 4033", "+4033"}), PidSet{});
}

}  // namespace

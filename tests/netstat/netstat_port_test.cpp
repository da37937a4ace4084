#include <gtest/gtest.h>

#include <string>

#include "netstat/netstat.h"

namespace {

struct Fields {
  std::string localAddress;
  std::string localPort;
  std::string foreignAddress;
  std::string foreignPort;
  bool isTcp;
  std::string pid;
};

struct ParseCase {
  std::string line;
  Fields expected;
};

void ExpectFields(const CNetstatPort& port, const Fields& expected,
                  const std::string& line) {
  EXPECT_EQ(port.localAddress, expected.localAddress) << line;
  EXPECT_EQ(port.localPort, expected.localPort) << line;
  EXPECT_EQ(port.foreignAddress, expected.foreignAddress) << line;
  EXPECT_EQ(port.foreignPort, expected.foreignPort) << line;
  EXPECT_EQ(port.isTcp, expected.isTcp) << line;
  EXPECT_EQ(port.pid, expected.pid) << line;
}

// Socket rows as the listing shows them: two leading spaces, columns padded.
const ParseCase kRows[] = {
    {"  TCP    0.0.0.0:4033           0.0.0.0:0              LISTENING       "
     "884",
     {"0.0.0.0", "4033", "0.0.0.0", "0", true, "884"}},
    {"  TCP    127.0.0.1:4033         127.0.0.1:600          ESTABLISHED     "
     "884",
     {"127.0.0.1", "4033", "127.0.0.1", "600", true, "884"}},
    {"  TCP    127.0.0.1:600          127.0.0.1:4033         ESTABLISHED     "
     "912",
     {"127.0.0.1", "600", "127.0.0.1", "4033", true, "912"}},
    {"  TCP    127.0.0.1:4033         127.0.0.1:601          TIME_WAIT       0",
     {"127.0.0.1", "4033", "127.0.0.1", "601", true, "0"}},
    {"  TCP    [::]:4033              [::]:0                 LISTENING       "
     "884",
     {"[", ":]:4033", "[::]", "0", true, "884"}},
    {"  TCP    [::1]:4033             [::1]:600              ESTABLISHED     "
     "884",
     {"[", ":1]:4033", "[::1]", "600", true, "884"}},
    {"  UDP    0.0.0.0:4033           *:*                                    "
     "884",
     {"0.0.0.0", "4033", "*", "*", false, "884"}},
    {"  UDP    [::]:4033              *:*                                    "
     "884",
     {"[", ":]:4033", "*", "*", false, "884"}},
};

TEST(CNetstatPortParse, SocketRows) {
  for (const ParseCase& row : kRows) {
    CNetstatPort port;
    EXPECT_TRUE(port.Parse(row.line));
    ExpectFields(port, row.expected, row.line);
  }
}

// The trim leaves the first row without its leading spaces.
TEST(CNetstatPortParse, SocketRowsWithoutLeadingSpaces) {
  for (const ParseCase& row : kRows) {
    CNetstatPort port;
    const std::string line = row.line.substr(2);
    EXPECT_TRUE(port.Parse(line));
    ExpectFields(port, row.expected, line);
  }
}

TEST(CNetstatPortParse, LinesThatAreNotSocketRows) {
  const ParseCase cases[] = {
      {"Active Connections",
       {"Connections", "Active", "Connections", "Active", false,
        "Connections"}},
      {"  Proto  Local Address          Foreign Address        State           "
       "PID",
       {"PID", "", "PID", "", false, "PID"}},
      {"TCP", {"TCP", "TCP", "TCP", "TCP", true, "TCP"}},
      {"", {"", "", "", "", false, ""}},
      // Odd rows: the fields still follow from the colons and spaces.
      {"  TCP    0.0.0.0:4033  0.0.0.0:0  LISTENING  884 ",
       {"0.0.0.0", "4033", "0.0.0.0", "0", true, ""}},
      {"  TCP    0.0.0.0:4033  0.0.0.0:0  LISTENING  884\r",
       {"0.0.0.0", "4033", "0.0.0.0", "0", true, "884\r"}},
      {":", {"", "", "", "", false, ":"}},
      {"TCP 1.2.3.4:80",
       {"1.2.3.4", "80", "1.2.3.4", "80", true, "1.2.3.4:80"}},
      {"  tcp    0.0.0.0:80  0.0.0.0:0  LISTENING  4",
       {"0.0.0.0", "80", "0.0.0.0", "0", false, "4"}},
      {"xTCPx", {"xTCPx", "xTCPx", "xTCPx", "xTCPx", true, "xTCPx"}},
  };
  for (const ParseCase& c : cases) {
    CNetstatPort port;
    EXPECT_TRUE(port.Parse(c.line));
    ExpectFields(port, c.expected, c.line);
  }
}

TEST(CNetstatPortParse, NeverClearsIsTcp) {
  CNetstatPort port;
  ASSERT_TRUE(port.Parse(kRows[0].line));
  ASSERT_TRUE(port.Parse(kRows[6].line));
  EXPECT_TRUE(port.isTcp);
  EXPECT_EQ(port.localAddress, "0.0.0.0");
}

}  // namespace

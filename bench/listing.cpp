#include "listing.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

namespace bench {

const char* const kServerConfPorts[] = {"4080", "4081", "4443"};
const std::size_t kServerConfPortCount =
    sizeof kServerConfPorts / sizeof kServerConfPorts[0];

const char kTypicalServerConf[] = R"({
  "server_name": "quentar-agent",
  "listening_ports": "4080,4081",
  "ssl_port": 4443,
  "ssl_certificate": "C:\\ProgramData\\QUENTAR\\Agent\\certs\\agent.pem",
  "document_root": "C:\\ProgramData\\QUENTAR\\Agent\\www",
  "num_threads": 16,
  "request_timeout_ms": 30000,
  "enable_keep_alive": true,
  "access_control_list": "-0.0.0.0/0,+127.0.0.1,+10.0.0.0/8",
  "log": {
    "level": "info",
    "file": "C:\\ProgramData\\QUENTAR\\Agent\\logs\\agent.log",
    "max_size_mb": 50,
    "keep": 5
  },
  "upstreams": [
    {"host": "collector-1.example.net", "port": 9443, "weight": 2},
    {"host": "collector-2.example.net", "port": 9443, "weight": 1}
  ],
  "features": ["metrics", "inventory", "remote_shell"]
}
)";

namespace {

// xorshift64*: the same sequence on every platform and library, unlike the
// standard distributions.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    state_ ^= state_ >> 12;
    state_ ^= state_ << 25;
    state_ ^= state_ >> 27;
    return state_ * 0x2545F4914F6CDD1DULL;
  }
  // In [0, bound).
  unsigned Below(unsigned bound) {
    return static_cast<unsigned>(Next() % bound);
  }
  unsigned Between(unsigned low, unsigned high) {
    return low + Below(high - low + 1);
  }

 private:
  std::uint64_t state_;
};

const char* const kWatchedPorts[] = {"4033", "4044", "4045", "4046", "36039",
                                     "4523", "4524", "4525", "4526", "36523",
                                     "4080", "4081", "4443"};
const char* const kServicePorts[] = {
    "135",   "445",   "3389",  "5985",  "47001", "5040",
    "49664", "49665", "49666", "49667", "49668", "49669",
    "7680",  "1433",  "5353",  "80",    "443",   "8530"};
const char* const kInboundPorts[] = {"443", "80",   "3389",
                                     "445", "1433", "8530"};
const char* const kRemotePorts[] = {"443", "443", "443", "80",
                                    "53",  "135", "445", "8443"};
// Every state netstat prints for TCP; TIME_WAIT rows belong to PID 0.
const char* const kTcpStates[] = {
    "ESTABLISHED", "ESTABLISHED",  "ESTABLISHED", "ESTABLISHED", "ESTABLISHED",
    "ESTABLISHED", "TIME_WAIT",    "TIME_WAIT",   "TIME_WAIT",   "CLOSE_WAIT",
    "SYN_SENT",    "SYN_RECEIVED", "FIN_WAIT_1",  "FIN_WAIT_2",  "CLOSING",
    "LAST_ACK",    "CLOSED",       "DELETE_TCB"};
const char kLocalIpv4[] = "10.20.30.40";
const char kLinkLocal[] = "fe80::9c4e:2a17:61b3:d5f8%12";
const char kLocalIpv6[] = "2001:db8:4a1:20::1e";

template <typename T, std::size_t N>
const T& Pick(Random& random, const T (&items)[N]) {
  return items[random.Below(N)];
}

struct Row {
  int group;  // 0 TCP IPv4, 1 TCP IPv6, 2 UDP IPv4, 3 UDP IPv6
  std::string localAddress;
  unsigned localPort;
  std::string foreignAddress;
  std::string foreignPort;
  std::string state;
  unsigned pid;
};

std::string Ipv4(Random& random) {
  return std::to_string(random.Between(1, 223)) + "." +
         std::to_string(random.Below(256)) + "." +
         std::to_string(random.Below(256)) + "." +
         std::to_string(random.Between(1, 254));
}

std::string Ipv6(Random& random) {
  static const char kHex[] = "0123456789abcdef";
  std::string address = "2a01:111:f400";
  for (int group = 0; group < 5; ++group) {
    address += ':';
    const unsigned value = random.Between(1, 0xffff);
    bool leading = true;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned digit = (value >> shift) & 0xf;
      if (leading && digit == 0 && shift != 0) continue;
      leading = false;
      address += kHex[digit];
    }
  }
  return address;
}

unsigned Ephemeral(Random& random) { return random.Between(49152, 65535); }

unsigned PidOf(Random& random) {
  // About 150 processes own sockets, mostly the usual few.
  static const unsigned kBusy[] = {4, 884, 1044, 1288, 2216, 3380, 4312};
  if (random.Below(3) == 0) return kBusy[random.Below(7)];
  return 4 * random.Between(100, 250);
}

void AppendPadded(std::string& out, const std::string& field,
                  std::size_t width) {
  out += field;
  // netstat pads each column and keeps at least one space after it.
  out.append(field.size() < width ? width - field.size() : 1, ' ');
}

Row MakeRow(Random& random) {
  Row row;
  const unsigned kind = random.Below(100);
  if (kind < 58) {  // TCP over IPv4
    row.group = 0;
    row.state = Pick(random, kTcpStates);
    const bool inbound = random.Below(10) < 3;
    if (random.Below(20) == 0) {
      row.localAddress = row.foreignAddress = "127.0.0.1";
    } else {
      row.localAddress = kLocalIpv4;
      row.foreignAddress = Ipv4(random);
    }
    if (inbound) {
      row.localPort =
          static_cast<unsigned>(std::stoul(Pick(random, kInboundPorts)));
      row.foreignPort = std::to_string(Ephemeral(random));
    } else {
      row.localPort = Ephemeral(random);
      row.foreignPort = Pick(random, kRemotePorts);
    }
  } else if (kind < 78) {  // TCP over IPv6
    row.group = 1;
    row.state = Pick(random, kTcpStates);
    const unsigned flavour = random.Below(4);
    if (flavour == 0) {
      row.localAddress = row.foreignAddress = "[::1]";
    } else if (flavour == 1) {
      row.localAddress = std::string("[") + kLinkLocal + "]";
      row.foreignAddress =
          "[fe80::" + std::to_string(random.Between(1, 9)) +
          "c2:" + std::to_string(random.Between(10, 99)) +
          "ff:fe3d:" + std::to_string(random.Between(1000, 9999)) + "%12]";
    } else {
      row.localAddress = std::string("[") + kLocalIpv6 + "]";
      row.foreignAddress = "[" + Ipv6(random) + "]";
    }
    row.localPort = Ephemeral(random);
    row.foreignPort = Pick(random, kRemotePorts);
  } else if (kind < 93) {  // UDP over IPv4
    row.group = 2;
    row.localAddress = random.Below(2) == 0 ? "0.0.0.0" : kLocalIpv4;
    row.localPort =
        random.Below(4) == 0
            ? static_cast<unsigned>(std::stoul(Pick(random, kServicePorts)))
            : Ephemeral(random);
    row.foreignAddress = "*";
    row.foreignPort = "*";
  } else {  // UDP over IPv6
    row.group = 3;
    const unsigned flavour = random.Below(3);
    row.localAddress = flavour == 0   ? "[::]"
                       : flavour == 1 ? std::string("[") + kLinkLocal + "]"
                                      : "[::1]";
    row.localPort = Ephemeral(random);
    row.foreignAddress = "*";
    row.foreignPort = "*";
  }
  row.pid = row.state == "TIME_WAIT" ? 0 : PidOf(random);
  return row;
}

// A leftover of the agent: a socket on one of the watched ports.
Row MakeWatchedRow(Random& random, std::size_t index) {
  Row row;
  static const unsigned kLeftovers[] = {5120, 5124, 6408, 7732, 9016};
  row.pid = kLeftovers[index % 5];
  row.localPort =
      static_cast<unsigned>(std::stoul(Pick(random, kWatchedPorts)));
  if (random.Below(8) == 0) {
    row.group = 2;
    row.localAddress = "0.0.0.0";
    row.foreignAddress = row.foreignPort = "*";
    return row;
  }
  row.group = 0;
  if (index % 4 == 0) {
    row.state = "LISTENING";
    row.localAddress = "0.0.0.0";
    row.foreignAddress = "0.0.0.0";
    row.foreignPort = "0";
  } else {
    row.state = index % 4 == 1 ? "CLOSE_WAIT" : "ESTABLISHED";
    row.localAddress = kLocalIpv4;
    row.foreignAddress = Ipv4(random);
    row.foreignPort = std::to_string(Ephemeral(random));
  }
  return row;
}

std::vector<Row> ListeningRows() {
  std::vector<Row> rows;
  for (const char* port : kServicePorts) {
    const auto number = static_cast<unsigned>(std::stoul(port));
    rows.push_back({0, "0.0.0.0", number, "0.0.0.0", "0", "LISTENING", 1044});
    rows.push_back({1, "[::]", number, "[::]", "0", "LISTENING", 1044});
  }
  return rows;
}

}  // namespace

Listing MakeListing(std::size_t rowCount) {
  Random random(0x5eed0000ULL + rowCount);
  std::vector<Row> rows = ListeningRows();
  if (rows.size() > rowCount) rows.resize(rowCount);
  const std::size_t watched = std::max<std::size_t>(3, rowCount * 3 / 1000);
  std::size_t watchedIpv4 = 0;
  for (std::size_t i = 0; i < watched && rows.size() < rowCount; ++i) {
    rows.push_back(MakeWatchedRow(random, i));
  }
  while (rows.size() < rowCount) rows.push_back(MakeRow(random));
  std::set<std::string> watchedPids;
  for (const Row& row : rows) {
    if (row.group == 1 || row.group == 3) continue;  // IPv6 keys never match
    const std::string localPort = std::to_string(row.localPort);
    for (const char* port : kWatchedPorts) {
      if (localPort == port) {
        ++watchedIpv4;
        watchedPids.insert(std::to_string(row.pid));
      }
    }
  }
  std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) {
    return std::tie(a.group, a.localAddress, a.localPort) <
           std::tie(b.group, b.localAddress, b.localPort);
  });

  Listing listing;
  listing.rows = rows.size();
  listing.watchedRows = watchedIpv4;
  listing.watchedPids = std::move(watchedPids);
  std::string& text = listing.text;
  text.reserve(rows.size() * 96 + 128);
  text +=
      "\nActive Connections\n\n  Proto  Local Address          Foreign "
      "Address        State           PID\n";
  for (const Row& row : rows) {
    text += "  ";
    AppendPadded(text, row.group < 2 ? "TCP" : "UDP", 7);
    AppendPadded(text, row.localAddress + ":" + std::to_string(row.localPort),
                 23);
    AppendPadded(text, row.foreignAddress + ":" + row.foreignPort, 23);
    AppendPadded(text, row.state, 16);
    text += std::to_string(row.pid);
    text += '\n';
  }
  return listing;
}

}  // namespace bench

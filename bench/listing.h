// Deterministic stand-ins for what the recovery reads: a "netstat -ano"
// listing of a busy server and the agent's server.conf.
#ifndef DIDUROZIR_BENCH_LISTING_H_
#define DIDUROZIR_BENCH_LISTING_H_

#include <cstddef>
#include <set>
#include <string>

namespace bench {

// The ports that kTypicalServerConf adds to the ten defaults.
extern const char* const kServerConfPorts[];
extern const std::size_t kServerConfPortCount;

// A server.conf as the agent ships it, with the two keys among others.
extern const char kTypicalServerConf[];

struct Listing {
  std::string text;  // as Capture leaves it: text mode, LF line ends
  std::size_t rows = 0;
  std::size_t watchedRows = 0;        // IPv4 rows whose local port is watched
  std::set<std::string> watchedPids;  // what FindPids must answer
};

// `rows` socket rows under the usual title and column header: TCP before
// UDP, IPv4 before IPv6, sorted by local endpoint as netstat prints them.
// IPv4, IPv6, all TCP states, listening services, inbound and outbound
// connections on ephemeral ports, UDP endpoints, and about 3 in 1000 rows
// (at least 3) held by leftovers on watched ports. The same `rows` always
// gives the same bytes.
Listing MakeListing(std::size_t rows);

}  // namespace bench

#endif  // DIDUROZIR_BENCH_LISTING_H_

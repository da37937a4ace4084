// The socket table: the listing of "netstat -ano", parsed and indexed by
// local port, answering which processes hold given ports.
#ifndef DIDUROZIR_NETSTAT_NETSTAT_H_
#define DIDUROZIR_NETSTAT_NETSTAT_H_

#include <boost/shared_ptr.hpp>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "ports/ports.h"

// PID texts, ordered like PortSet.
using PidSet = std::set<std::string>;

// One line of the listing. Fields are meaningful after Parse returned true.
class CNetstatPort {
 public:
  // Fills the fields from `line`; false only when an exception (memory
  // exhaustion) stopped it, leaving the fields assigned so far.
  bool Parse(std::string line);

  std::string localAddress;    // before the first colon, after a space
  std::string localPort;       // after the first colon, up to a space
  std::string foreignAddress;  // before the last colon, after a space
  std::string foreignPort;     // after the last colon, up to a space
  bool isTcp = false;          // the line contains "TCP"
  std::string pid;             // after the last space
};

class CNetstat {
 public:
  // Appends the standard output of "netstat -ano"; nothing when the pipe
  // can't be opened.
  void Capture();
  // Cuts `text` to start at its first "TCP"; false, unchanged, without one.
  bool TrimToFirstTcp();
  // Parses every line of `text` into portIndex.
  void BuildIndex();
  // The PIDs of the indexed lines whose local port is in `ports`.
  PidSet FindPids(PortSet ports) const;

  std::string text;  // the captured listing
  // Local-port text -> every record with that local port, in line order.
  std::map<std::string, std::vector<boost::shared_ptr<CNetstatPort>>> portIndex;
};

#endif  // DIDUROZIR_NETSTAT_NETSTAT_H_

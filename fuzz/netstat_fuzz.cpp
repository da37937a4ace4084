// A netstat -ano listing as the supervision cycle meets it: captured through
// the pipe, cut at the first "TCP", indexed, searched for the watched ports,
// and turned into kill commands with the cycle's own PID filter.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fakes/fake_pipe.h"
#include "monitor/monitor.h"
#include "netstat/netstat.h"
#include "ports/ports.h"

namespace {

void Require(bool condition, const char* what, const std::string& detail) {
  if (condition) return;
  std::fprintf(stderr, "netstat_fuzz: %s: [%s]\n", what, detail.c_str());
  std::abort();
}

// The defaults and a few ports that real listings hold, "0" among them (the
// foreign port of every listening row).
const PortSet& WatchedPorts() {
  static const PortSet ports = [] {
    PortSet set = MakeDefaultPorts();
    for (const char* port : {"0", "135", "445", "4033", "49664"}) {
      set.insert(port);
    }
    return set;
  }();
  return ports;
}

void CheckKillCommand(const std::string& pid, const std::string& command) {
  const std::string prefix = "taskkill /F /pid ";
  Require(command.compare(0, prefix.size(), prefix) == 0, "prefix", command);
  const std::string digits = command.substr(prefix.size());
  Require(!digits.empty() && digits.size() <= 10, "PID length", command);
  std::uint64_t value = 0;
  for (const char c : digits) {
    Require(c >= '0' && c <= '9', "non-digit in command", command);
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  Require(value != 0, "PID 0 in command", command);
  Require(value <= 0xFFFFFFFFu, "PID beyond 32 bits", command);
  Require(digits == pid, "command changed the PID text", command);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  fakes::Pipe().Reset();
  fakes::Pipe().output.assign(reinterpret_cast<const char*>(data), size);

  CNetstat table;
  table.Capture();
  Require(fakes::Pipe().opened == fakes::Pipe().closed, "pipe left open", "");
  if (table.TrimToFirstTcp()) {
    Require(table.text.compare(0, 3, "TCP") == 0, "trim", table.text);
    table.BuildIndex();
  } else {
    Require(table.text.find("TCP") == std::string::npos, "missed TCP", "");
  }
  for (const auto& slot : table.portIndex) {
    Require(!slot.second.empty(), "empty index slot", slot.first);
    for (const auto& record : slot.second) {
      Require(record->localPort == slot.first, "misfiled record", slot.first);
      Require(record->localPort.find(' ') == std::string::npos,
              "space in local port", record->localPort);
      Require(record->pid.find(' ') == std::string::npos, "space in PID",
              record->pid);
    }
  }

  const PidSet pids = table.FindPids(WatchedPorts());
  for (const std::string& pid : pids) {
    Require(pid.find('\n') == std::string::npos, "line feed in PID", pid);
    std::uint32_t value = 0;
    if (!ParseKillablePid(pid, &value)) continue;
    Require(value != 0, "PID 0 accepted", pid);
    CheckKillCommand(pid, MakeKillCommand(pid));
  }
  return 0;
}

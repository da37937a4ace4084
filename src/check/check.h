// The -check dry run: what the watchdog would read, watch and kill now, and
// what it trusts, printed without killing, starting or recording anything, for
// administrators and compliance tools.
#ifndef DIDUROZIR_CHECK_CHECK_H_
#define DIDUROZIR_CHECK_CHECK_H_

#include <cstdint>

namespace check {

// The exit code is 0 when nothing is wrong, else the sum of these bits, so
// that a compliance rule can pick the ones it cares about.
enum : std::uint32_t {
  // The agent's service key or its ImagePath is missing: a recovery would
  // start nothing.
  kAgentNotInstalled = 1,
  // server.conf exists but cannot be used (unreadable, not JSON, root not an
  // object), or the system cannot tell whether it exists: only the built-in
  // ports are watched.
  kServerConfUnusable = 2,
  // The trust audit has findings.
  kTrustFindings = 4,
  // The agent is installed but no process runs its image.
  kAgentNotRunning = 8,
  // Something could not be read (a registry key denied, no process list, no
  // netstat listing): the rest may be incomplete, so it is not a clean bill.
  kIncomplete = 16,
};

// Runs the dry run for the watchdog's service `serviceName`: prints the
// report on standard output and returns the exit code. Never throws.
std::uint32_t RunCheck(const wchar_t* serviceName);

}  // namespace check

#endif  // DIDUROZIR_CHECK_CHECK_H_

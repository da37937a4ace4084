#include "ports/ports.h"

std::map<std::string, PortOrigin> DescribePortOrigins(
    const ServerConfReading& reading) {
  std::map<std::string, PortOrigin> origins;
  for (const std::string& port : MakeDefaultPorts()) {
    origins[port].builtIn = true;
  }
  // The tokens are listed only when the file was used, as they are added.
  if (reading.outcome != ServerConfOutcome::kUsed) return origins;
  for (const std::string& port : reading.listeningPorts) {
    origins[port].listeningPorts = true;
  }
  for (const std::string& port : reading.sslPorts) {
    origins[port].sslPort = true;
  }
  return origins;
}

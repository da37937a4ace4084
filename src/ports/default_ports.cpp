#include "ports/ports.h"

const std::string kServerConfName = "server.conf";
const std::string kListeningPortsKey = "listening_ports";
const std::string kSslPortKey = "ssl_port";

PortSet MakeDefaultPorts() {
  // Insertion order is the order the agent documents its ports in; the set
  // sorts them anyway.
  static const char* const kDefaults[] = {"4033",  "4044", "4045", "4046",
                                          "36039", "4523", "4524", "4525",
                                          "4526",  "36523"};
  PortSet ports;
  for (const char* port : kDefaults) ports.emplace(port);
  return ports;
}

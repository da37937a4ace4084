// The watched port set: the agent's ports, whose holders are killed when the
// agent is gone. Built-in defaults plus the agent's server.conf.
#ifndef DIDUROZIR_PORTS_PORTS_H_
#define DIDUROZIR_PORTS_PORTS_H_

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

// Port texts, never converted to numbers. std::string compares like memcmp,
// so the order is byte-wise with bytes unsigned, a text before its extensions.
using PortSet = std::set<std::string>;

// Names in the agent's configuration; set up before main runs.
extern const std::string kServerConfName;     // "server.conf"
extern const std::string kListeningPortsKey;  // "listening_ports"
extern const std::string kSslPortKey;         // "ssl_port"

// The ten built-in ports.
PortSet MakeDefaultPorts();

// What became of server.conf, for the record.
enum class ServerConfOutcome {
  kNoDirectory,  // no configuration directory: the file was not looked for
  kAbsent,
  kExistenceUnknown,  // the system could not tell whether it exists
  kUnreadable,        // it exists but can't be opened for reading
  kUnparsable,
  kNotObject,  // parsed, but its root is an array
  kUsed,
};
struct ServerConfReading {
  ServerConfOutcome outcome = ServerConfOutcome::kNoDirectory;
  std::string path;               // the file looked for
  std::size_t errorOffset = 0;    // kUnparsable: where the parse failed
  std::string error;              // kUnparsable: the parser's words
  std::uint32_t systemError = 0;  // kExistenceUnknown: the system's code
  // kUsed: the tokens each key added or would have added, in file order.
  std::vector<std::string> listeningPorts;
  std::vector<std::string> sslPorts;
};

// Adds the ports named by listening_ports and ssl_port of
// `configDirectory`\server.conf to `ports`. Every problem with the file leaves
// `ports` as it was; only memory exhaustion escapes. `reading`, when given,
// tells what became of the file.
void AddServerConfPorts(PortSet& ports, std::string configDirectory,
                        ServerConfReading* reading = nullptr);

// Where a watched port came from; a port may come from several places.
struct PortOrigin {
  bool builtIn = false;
  bool listeningPorts = false;  // a token of listening_ports
  bool sslPort = false;         // a token of ssl_port
};
// Every port of the set that MakeDefaultPorts and AddServerConfPorts built
// with `reading`, with its origins; the keys are exactly that set.
std::map<std::string, PortOrigin> DescribePortOrigins(
    const ServerConfReading& reading);

// The text form of a JSON value (string, boolean, number), or `fallback`.
std::string JsonValueToText(const rapidjson::Value& value,
                            std::string fallback);

#endif  // DIDUROZIR_PORTS_PORTS_H_

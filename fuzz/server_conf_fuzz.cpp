// server.conf bytes through AddServerConfPorts: whatever the file holds, the
// defaults stay, nothing throws, and only an object root adds ports.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fakes/fake_file.h"
#include "ports/ports.h"

namespace {

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "server_conf_fuzz: %s\n", what);
  std::abort();
}

// One folder for the whole run, removed at exit. In memory where the system
// has /dev/shm: rewriting a file on ext4 waits for the disk (the truncation
// discards blocks, the close flushes): over a millisecond for each input.
const std::string& ConfDirectory() {
  static const std::string directory = [] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    pattern += "/server_conf_fuzz.XXXXXX";
    Require(mkdtemp(pattern.data()) != nullptr, "no temporary folder");
    std::string made = pattern;
    static std::string file = made + "/" + kServerConfName;
    static std::string folder = made;
    std::atexit([] {
      std::remove(file.c_str());
      rmdir(folder.c_str());
    });
    return made;
  }();
  return directory;
}

bool StartsLikeObject(const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
    return c == '{';
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  const std::string path = ConfDirectory() + "/" + kServerConfName;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  Require(file != nullptr, "cannot write the file");
  Require(std::fwrite(data, 1, size, file) == size, "short write");
  std::fclose(file);

  fakes::File().Reset();
  const PortSet defaults = MakeDefaultPorts();
  PortSet ports = defaults;
  AddServerConfPorts(ports, ConfDirectory());

  Require(fakes::File().handedOut == fakes::File().closed, "file left open");
  for (const std::string& port : defaults) {
    Require(ports.count(port) == 1, "a default port is gone");
  }
  if (!StartsLikeObject(data, size)) {
    Require(ports == defaults, "ports from a root that is not an object");
  }
  for (const std::string& port : ports) {
    Require(!port.empty(), "empty port");
    Require(port.find(',') == std::string::npos, "comma in a port");
    Require(port.find('\0') == std::string::npos, "NUL in a port");
  }
  return 0;
}

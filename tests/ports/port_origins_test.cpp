// Where each watched port came from: the set it describes is exactly the one
// the recovery builds, whatever server.conf holds.
#include <gtest/gtest.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <map>
#include <string>

#include "ports/ports.h"

namespace {

namespace fs = boost::filesystem;

// B: built in, L: listening_ports, S: ssl_port.
std::string Letters(const PortOrigin& origin) {
  return std::string(origin.builtIn ? "B" : "") +
         (origin.listeningPorts ? "L" : "") + (origin.sslPort ? "S" : "");
}

struct OriginCase {
  const char* name;
  const char* content;  // null: no server.conf
  // The ports that are not only built in, with their letters.
  std::map<std::string, std::string> notOnlyBuiltIn;
};

class PortOriginsTest : public ::testing::TestWithParam<OriginCase> {};

TEST_P(PortOriginsTest, DescribesExactlyTheBuiltSet) {
  const OriginCase& c = GetParam();
  const fs::path dir = fs::temp_directory_path() /
                       fs::unique_path("didurozir-origins-%%%%-%%%%-%%%%");
  fs::create_directories(dir);
  if (c.content != nullptr) {
    std::ofstream((dir / "server.conf").string(), std::ios::binary)
        << c.content;
  }
  PortSet ports = MakeDefaultPorts();
  ServerConfReading reading;
  AddServerConfPorts(ports, dir.string(), &reading);
  fs::remove_all(dir);

  const std::map<std::string, PortOrigin> origins =
      DescribePortOrigins(reading);

  PortSet described;
  std::map<std::string, std::string> notOnlyBuiltIn;
  for (const auto& [port, origin] : origins) {
    described.insert(port);
    if (Letters(origin) != "B") notOnlyBuiltIn[port] = Letters(origin);
  }
  EXPECT_EQ(described, ports);
  EXPECT_EQ(notOnlyBuiltIn, c.notOnlyBuiltIn);
}

INSTANTIATE_TEST_SUITE_P(
    Confs, PortOriginsTest,
    ::testing::Values(
        OriginCase{"absent", nullptr, {}},
        OriginCase{"both_keys",
                   R"({"listening_ports": "8080,8443", "ssl_port": 443})",
                   {{"8080", "L"}, {"8443", "L"}, {"443", "S"}}},
        OriginCase{"a_default_named_again",
                   R"({"listening_ports": "4033,4901", "ssl_port": "4033"})",
                   {{"4033", "BLS"}, {"4901", "L"}}},
        OriginCase{"same_port_in_both_keys",
                   R"({"listening_ports": "443", "ssl_port": 443.0})",
                   {{"443", "LS"}}},
        OriginCase{"token_kept_with_its_space",
                   R"({"listening_ports": "8080, 8443"})",
                   {{"8080", "L"}, {" 8443", "L"}}},
        OriginCase{"unparsable_adds_nothing", R"({"ssl_port": 443,})", {}},
        OriginCase{"array_root_adds_nothing", R"(["ssl_port", "4443"])", {}},
        OriginCase{"array_value_adds_nothing",
                   R"({"listening_ports": [8080], "ssl_port": 443})",
                   {{"443", "S"}}}),
    [](const ::testing::TestParamInfo<OriginCase>& info) {
      return std::string(info.param.name);
    });

}  // namespace

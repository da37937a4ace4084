#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ports/ports.h"

namespace {

TEST(MakeDefaultPorts, HoldsTheTenBuiltInPortsInByteOrder) {
  const PortSet ports = MakeDefaultPorts();
  EXPECT_EQ(std::vector<std::string>(ports.begin(), ports.end()),
            (std::vector<std::string>{"36039", "36523", "4033", "4044", "4045",
                                      "4046", "4523", "4524", "4525", "4526"}));
}

TEST(PortSet, OrdersBytesAsUnsignedAndPrefixesFirst) {
  const PortSet ports = {"\xC3\xA9", "8443", " 8443", "844", "1000", "884"};
  EXPECT_EQ(std::vector<std::string>(ports.begin(), ports.end()),
            (std::vector<std::string>{" 8443", "1000", "844", "8443", "884",
                                      "\xC3\xA9"}));
}

}  // namespace

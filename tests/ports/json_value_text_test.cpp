#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <clocale>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>

#include "ports/ports.h"

namespace {

using SetUp = std::function<void(rapidjson::Document&)>;

struct TextCase {
  const char* name;
  SetUp set;
  std::string expected;
};

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNan = std::numeric_limits<double>::quiet_NaN();

const TextCase kTextCases[] = {
    {"null", [](auto& v) { v.SetNull(); }, "fallback"},
    {"object", [](auto& v) { v.SetObject(); }, "fallback"},
    {"array", [](auto& v) { v.SetArray(); }, "fallback"},
    {"string", [](auto& v) { v.SetString("8080"); }, "8080"},
    {"empty string is not the fallback", [](auto& v) { v.SetString(""); }, ""},
    {"string ends at a NUL",
     [](auto& v) {
       v.SetString(
           "44\0"
           "3",
           4, v.GetAllocator());
     },
     "44"},
    {"true", [](auto& v) { v.SetBool(true); }, "true"},
    {"false", [](auto& v) { v.SetBool(false); }, "false"},
    {"zero", [](auto& v) { v.SetUint64(0); }, "0"},
    {"small int", [](auto& v) { v.SetInt(443); }, "443"},
    {"uint64 max",
     [](auto& v) { v.SetUint64(std::numeric_limits<std::uint64_t>::max()); },
     "18446744073709551615"},
    {"negative int", [](auto& v) { v.SetInt(-1); }, "-1"},
    {"int64 min",
     [](auto& v) { v.SetInt64(std::numeric_limits<std::int64_t>::min()); },
     "-9223372036854775808"},
    {"whole double", [](auto& v) { v.SetDouble(4033.0); }, "4033"},
    {"fraction", [](auto& v) { v.SetDouble(4033.5); }, "4033.5"},
    {"1e3", [](auto& v) { v.SetDouble(1e3); }, "1000"},
    {"0.1 with 17 digits", [](auto& v) { v.SetDouble(0.1); },
     "0.10000000000000001"},
    {"1e21", [](auto& v) { v.SetDouble(1e21); }, "1e+21"},
    {"1e16 still plain", [](auto& v) { v.SetDouble(1e16); },
     "10000000000000000"},
    {"1e17 exponent", [](auto& v) { v.SetDouble(1e17); }, "1e+17"},
    {"negative zero", [](auto& v) { v.SetDouble(-0.0); }, "-0"},
    {"largest",
     [](auto& v) { v.SetDouble(std::numeric_limits<double>::max()); },
     "1.7976931348623157e+308"},
    {"smallest subnormal",
     [](auto& v) { v.SetDouble(std::numeric_limits<double>::denorm_min()); },
     "4.9406564584124654e-324"},
    {"inf", [](auto& v) { v.SetDouble(kInf); }, "inf"},
    {"-inf", [](auto& v) { v.SetDouble(-kInf); }, "-inf"},
    {"nan", [](auto& v) { v.SetDouble(kNan); }, "nan"},
    {"-nan", [](auto& v) { v.SetDouble(-kNan); }, "-nan"},
};

TEST(JsonValueToText, GivesTheTextOfEachType) {
  for (const TextCase& c : kTextCases) {
    rapidjson::Document document;
    c.set(document);
    EXPECT_EQ(JsonValueToText(document, "fallback"), c.expected) << c.name;
  }
}

// printf would write "4033,5" under a German C locale.
TEST(JsonValueToText, IgnoresTheCLocale) {
  const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
  const char* german = nullptr;
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE",
                           "German_Germany.1252", "German"}) {
    if (std::setlocale(LC_NUMERIC, name) != nullptr) {
      german = name;
      break;
    }
  }
  if (german == nullptr) GTEST_SKIP() << "no German locale installed";
  rapidjson::Document document;
  document.SetDouble(4033.5);
  const std::string text = JsonValueToText(document, "");
  std::setlocale(LC_NUMERIC, saved.c_str());
  EXPECT_EQ(text, "4033.5") << german;
}

}  // namespace

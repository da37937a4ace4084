#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <boost/filesystem.hpp>
#include <fstream>
#include <string>
#include <vector>

#include "fakes/fake_file.h"
#include "platform/file.h"
#include "ports/ports.h"

#ifndef _WIN32
#include <sys/resource.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <new>
#endif

namespace {

namespace fs = boost::filesystem;
using namespace std::string_literals;

// A folder of its own for each test, removed with everything in it.
class TempDir {
 public:
  TempDir()
      : path_(fs::temp_directory_path() /
              fs::unique_path("didurozir-ports-%%%%-%%%%-%%%%-%%%%")) {
    fs::create_directories(path_);
  }
  ~TempDir() {
    boost::system::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const fs::path& path() const { return path_; }
  std::string text() const { return path_.string(); }

  void Write(const std::string& name, const std::string& content) const {
    std::ofstream out((path_ / name).string(), std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
  }

 private:
  fs::path path_;
};

PortSet With(std::vector<std::string> added) {
  PortSet ports = MakeDefaultPorts();
  ports.insert(added.begin(), added.end());
  return ports;
}

class ServerConfTest : public ::testing::Test {
 protected:
  void SetUp() override { fakes::File().Reset(); }
  void TearDown() override {
    EXPECT_EQ(fakes::File().closed, fakes::File().handedOut)
        << "every file opened is closed once";
  }

  // The defaults after AddServerConfPorts read `content` as server.conf.
  PortSet ReadConf(const std::string& content) {
    TempDir dir;
    dir.Write("server.conf", content);
    PortSet ports = MakeDefaultPorts();
    AddServerConfPorts(ports, dir.text());
    return ports;
  }
};

struct ConfCase {
  const char* name;
  std::string content;
  std::vector<std::string> added;  // to the ten defaults
};

const ConfCase kConfCases[] = {
    {"both keys",
     R"({"listening_ports": "8080,8443", "ssl_port": 443})",
     {"8080", "8443", "443"}},
    {"space stays in its token",
     R"({"listening_ports": "8080, 8443"})",
     {"8080", " 8443"}},
    {"empty tokens dropped",
     R"({"listening_ports": ",8080,,8443,"})",
     {"8080", "8443"}},
    {"tab stays in its token",
     "{\"listening_ports\": \"80\\t80\"}",
     {"80\t80"}},
    {"defaults named again",
     R"({"listening_ports": "4033", "ssl_port": "4033"})",
     {}},
    {"same port in both keys",
     R"({"listening_ports": "80", "ssl_port": "80"})",
     {"80"}},
    {"whole double", R"({"ssl_port": 443.0})", {"443"}},
    {"exponent", R"({"ssl_port": 4.43e2})", {"443"}},
    {"capital exponent with sign", R"({"ssl_port": 1E+2})", {"100"}},
    {"fraction", R"({"ssl_port": 443.5})", {"443.5"}},
    {"negative", R"({"ssl_port": -1})", {"-1"}},
    {"zero", R"({"ssl_port": 0})", {"0"}},
    {"negative zero integer", R"({"ssl_port": -0})", {"0"}},
    {"negative zero double", R"({"ssl_port": -0.0})", {"-0"}},
    {"true", R"({"ssl_port": true})", {"true"}},
    {"false", R"({"ssl_port": false})", {"false"}},
    {"uint64 max",
     R"({"ssl_port": 18446744073709551615})",
     {"18446744073709551615"}},
    {"beyond uint64 is a double",
     R"({"ssl_port": 18446744073709551616})",
     {"1.8446744073709552e+19"}},
    {"int64 min",
     R"({"ssl_port": -9223372036854775808})",
     {"-9223372036854775808"}},
    {"below int64 is a double",
     R"({"ssl_port": -9223372036854775809})",
     {"-9.2233720368547758e+18"}},
    {"0.1", R"({"ssl_port": 0.1})", {"0.10000000000000001"}},
    {"1e21", R"({"ssl_port": 1e21})", {"1e+21"}},
    {"exponent 308", R"({"ssl_port": 1e308})", {"1e+308"}},
    // RapidJSON divides by 1e308 and misses the nearest double.
    {"exponent -308", R"({"ssl_port": 1e-308})", {"9.9999999999999991e-309"}},
    {"exponent +308 after a fraction",
     R"({"ssl_port": 1.5e+308})",
     {"1.5e+308"}},
    {"exponent 309", R"({"ssl_port": 1e309})", {}},
    // RapidJSON alone would raise its limit by the count of fraction digits.
    {"exponent 309 after a fraction digit", R"({"ssl_port": 1.0e309})", {}},
    {"exponent 309 brought back by a fraction", R"({"ssl_port": 0.1e309})", {}},
    {"exponent -309", R"({"ssl_port": 1e-309})", {}},
    {"exponent -400", R"({"ssl_port": 1e-400})", {}},
    {"30-digit exponent", "{\"ssl_port\": 1e" + std::string(30, '1') + "}", {}},
    {"30-digit negative exponent",
     "{\"ssl_port\": 1e-" + std::string(30, '1') + "}",
     {}},
    {"leading zeros count for nothing below 308",
     R"({"ssl_port": 1e-000000000000000000001})",
     {"0.10000000000000001"}},
    {"leading zeros up to 308",
     R"({"ssl_port": 1E+000000000000000000308})",
     {"1e+308"}},
    {"leading zeros beyond 308", R"({"ssl_port": 1E-0000000400})", {}},
    {"exponent beyond 308 fails the other key too",
     R"({"listening_ports": "8080", "ssl_port": 1e-309})",
     {}},
    {"exponent beyond 308 before the other key",
     R"({"ssl_port": 1.0e309, "listening_ports": "8080"})",
     {}},
    {"exponents in strings stay text",
     R"({"listening_ports": "1e-2147483639,2E999", "ssl_port": "0.1e-400"})",
     {"1e-2147483639", "2E999", "0.1e-400"}},
    {"escaped quote keeps the string open",
     R"({"listening_ports": "a\"1e999,80"})",
     {"a\"1e999", "80"}},
    {"escaped backslash ends before the quote",
     R"({"listening_ports": "a\\", "ssl_port": 1e-400})",
     {}},
    {"literals next to numbers",
     R"({"x": [0,true,1,false,2], "listening_ports": true, "ssl_port": 2e2})",
     {"true", "200"}},
    {"fraction zeros then exponent",
     "{\"ssl_port\": 0." + std::string(300, '0') + "1e308}",
     {"10000000"}},
    {"thousands of fraction zeros",
     "{\"ssl_port\": -0." + std::string(5000, '0') + "1e308}",
     {"-0"}},
    {"overflow by mantissa", R"({"ssl_port": 10e308})", {"inf"}},
    {"400 digits", "{\"ssl_port\": " + std::string(400, '9') + "}", {}},
    {"leading zero", R"({"ssl_port": 01})", {}},
    {"plus sign", R"({"ssl_port": +1})", {}},
    {"bare fraction", R"({"ssl_port": .5})", {}},
    {"point without digits", R"({"ssl_port": 1.})", {}},
    {"exponent without digits", R"({"ssl_port": 1e})", {}},
    {"array value",
     R"({"listening_ports": [8080, 8443], "ssl_port": 443})",
     {"443"}},
    {"object value", R"({"listening_ports": {"port": 8080}})", {}},
    {"null value", R"({"listening_ports": null})", {}},
    {"first of duplicate keys",
     R"({"listening_ports": "8080", "listening_ports": "9090"})",
     {"8080"}},
    {"key case matters", R"({"Listening_Ports": "8080"})", {}},
    {"escaped key", R"({"listening\u005fports": "8080"})", {"8080"}},
    {"key with NUL", R"({"ssl_port\u0000": 443})", {}},
    {"empty object", "{}", {}},
    {"empty and comma-only texts",
     R"({"listening_ports": "", "ssl_port": ",,"})",
     {}},
    {"trailing comma", R"({"ssl_port": 443,})", {}},
    {"text after the root", R"({"ssl_port": 443} x)", {}},
    {"second root", R"({"ssl_port": 443} {})", {}},
    {"unclosed", R"({"ssl_port": 443)", {}},
    {"block comment", R"({"ssl_port": 443 /* tls */})", {}},
    {"line comment", "// ports\n{\"ssl_port\": 443}", {}},
    {"unquoted name", R"({ssl_port: 443})", {}},
    {"single quotes", R"({'ssl_port': 443})", {}},
    {"bad literal", R"({"ssl_port": tru})", {}},
    {"capital literal", R"({"ssl_port": True})", {}},
    {"number root", "5", {}},
    {"string root", R"("8080")", {}},
    {"literal root", "true", {}},
    {"array root", R"([{"ssl_port": 443}])", {}},
    {"array root of key and value", R"(["ssl_port","4443"])", {}},
    {"empty file", "", {}},
    {"white space only", " \t\r\n", {}},
    {"white space around the root",
     " \t\r\n{\"ssl_port\": 443}\r\n\t ",
     {"443"}},
    {"form feed is not white space", "\f{\"ssl_port\": 443}", {}},
    {"byte-order mark", "\xEF\xBB\xBF{\"ssl_port\": 443}", {}},
    {"NUL ends the input", "{\"ssl_port\": 443}\0 x{]"s, {"443"}},
    {"NUL inside a string", "{\"ssl_port\": \"44\0\"}"s, {}},
    {"escaped NUL ends the text", R"({"ssl_port": "44\u00003"})", {"44"}},
    {"raw control byte in a string", "{\"ssl_port\": \"44\t3\"}", {}},
    {"bytes taken as they stand",
     "{\"ssl_port\": \"8\x7F\xFF\"}",
     {"8\x7F\xFF"}},
    {"unicode escapes", R"({"ssl_port": "\u0034\u0034\u0033"})", {"443"}},
    {"escapes", R"({"listening_ports": "a\"b,c\/d"})", {"a\"b", "c/d"}},
    {"surrogate pair", R"({"ssl_port": "\uD83D\uDE00"})", {"\xF0\x9F\x98\x80"}},
    {"lone high surrogate", R"({"ssl_port": "\uD83D"})", {}},
    {"lone low surrogate", R"({"ssl_port": "\uDE00"})", {"\xED\xB8\x80"}},
    {"unknown escape", R"({"ssl_port": "\x41"})", {}},
};

TEST_F(ServerConfTest, AddsWhatTheFileNames) {
  for (const ConfCase& c : kConfCases) {
    EXPECT_EQ(ReadConf(c.content), With(c.added)) << c.name;
  }
}

// Negative exponents from 2147483630 to 2147483639 with enough fraction digits
// overflow RapidJSON's exponent sum and crash it; they fail the parse here.
// Not in kConfCases: the grammar test below hands those to RapidJSON alone.
TEST_F(ServerConfTest, ExponentsThatOverflowTheLibraryFailTheParse) {
  const std::string kExponents[] = {
      "0.0000000001e-2147483639",
      "0.0000000000000000000012e-2147483630",
      "-0.00000000000000000001e-2147483635",
      "5.5555555555E-2147483639",
      "0." + std::string(40, '0') + "1e-2147483638",
  };
  for (const std::string& number : kExponents) {
    EXPECT_EQ(
        ReadConf(R"({"listening_ports": "8080", "ssl_port": )" + number + "}"),
        MakeDefaultPorts())
        << number;
  }
}

// The reader parses iteratively; the grammar must be the one of the default
// recursive parse, where both reach the root check.
TEST(ServerConfGrammar, IterativeParseAgreesWithTheRecursiveOne) {
  for (const ConfCase& c : kConfCases) {
    rapidjson::Document recursive;
    rapidjson::Document iterative;
    recursive.Parse(c.content.data(), c.content.size());
    iterative.Parse<rapidjson::kParseIterativeFlag>(c.content.data(),
                                                    c.content.size());
    EXPECT_EQ(recursive.HasParseError(), iterative.HasParseError()) << c.name;
  }
}

TEST_F(ServerConfTest, ListingWithBothKeysSortsIntoTheDefaults) {
  const PortSet ports =
      ReadConf(R"({"listening_ports": "8080,8443", "ssl_port": 443})");
  EXPECT_EQ(std::vector<std::string>(ports.begin(), ports.end()),
            (std::vector<std::string>{"36039", "36523", "4033", "4044", "4045",
                                      "4046", "443", "4523", "4524", "4525",
                                      "4526", "8080", "8443"}));
  EXPECT_EQ(*ReadConf(R"({"listening_ports": "8080, 8443"})").begin(), " 8443");
}

TEST_F(ServerConfTest, OnlyAddsToWhatTheSetHeld) {
  TempDir dir;
  dir.Write("server.conf", R"({"ssl_port": 443})");
  PortSet ports = {"1"};
  AddServerConfPorts(ports, dir.text());
  EXPECT_EQ(ports, (PortSet{"1", "443"}));
}

TEST_F(ServerConfTest, SurvivesDeepNesting) {
  EXPECT_EQ(ReadConf(std::string(100000, '[')), MakeDefaultPorts());
  EXPECT_EQ(ReadConf(std::string(100000, '[') + std::string(100000, ']')),
            MakeDefaultPorts());
  std::string nested = "{\"deep\": ";
  for (int i = 0; i < 100000; ++i) nested += "{\"a\": [";
  for (int i = 0; i < 100000; ++i) nested += "]}";
  nested += ", \"ssl_port\": 443}";
  EXPECT_EQ(ReadConf(nested), With({"443"}));
}

TEST_F(ServerConfTest, ReadsALargeFile) {
  std::string content = "{\"pad\": \"" + std::string(100000, 'x') + "\", ";
  content += "\"listening_ports\": \"";
  for (int port = 10000; port < 10100; ++port) {
    content += std::to_string(port) + ",";
  }
  content += "\"}";
  EXPECT_EQ(ReadConf(content).size(), 110u);
}

TEST_F(ServerConfTest, EmptyDirectoryTouchesNoFile) {
  TempDir dir;
  dir.Write("server.conf", R"({"ssl_port": 443})");
  const fs::path saved = fs::current_path();
  fs::current_path(dir.path());
  PortSet ports = MakeDefaultPorts();
  AddServerConfPorts(ports, "");
  fs::current_path(saved);
  EXPECT_EQ(ports, MakeDefaultPorts());
  EXPECT_TRUE(fakes::File().opened.empty());
}

TEST_F(ServerConfTest, OpensTheFileInTheDirectory) {
  TempDir dir;
  dir.Write("server.conf", R"({"ssl_port": 443})");
  PortSet ports = MakeDefaultPorts();
  AddServerConfPorts(ports, dir.text());
  EXPECT_EQ(ports, With({"443"}));
  EXPECT_EQ(fakes::File().opened,
            std::vector<std::string>{dir.text() + platform::kPathSeparator +
                                     "server.conf"});
}

TEST_F(ServerConfTest, DirectoryEndingInASeparatorStillFindsTheFile) {
  TempDir dir;
  dir.Write("server.conf", R"({"ssl_port": 443})");
  const std::string directory = dir.text() + platform::kPathSeparator;
  PortSet ports = MakeDefaultPorts();
  AddServerConfPorts(ports, directory);
  EXPECT_EQ(ports, With({"443"}));
  EXPECT_EQ(fakes::File().opened,
            std::vector<std::string>{directory + platform::kPathSeparator +
                                     "server.conf"});
}

TEST_F(ServerConfTest, MissingFileIsNotOpened) {
  TempDir dir;
  PortSet ports = MakeDefaultPorts();
  AddServerConfPorts(ports, dir.text());
  AddServerConfPorts(ports, (dir.path() / "no such folder").string());
  EXPECT_EQ(ports, MakeDefaultPorts());
  EXPECT_TRUE(fakes::File().opened.empty());
}

TEST_F(ServerConfTest, DirectoryNamedServerConfAddsNothing) {
  TempDir dir;
  fs::create_directory(dir.path() / "server.conf");
  PortSet ports = MakeDefaultPorts();
  AddServerConfPorts(ports, dir.text());
  EXPECT_EQ(ports, MakeDefaultPorts());
}

TEST_F(ServerConfTest, FileThatCannotBeOpenedAddsNothing) {
  TempDir dir;
  dir.Write("server.conf", R"({"ssl_port": 443})");
  fakes::File().failOpen = true;
  PortSet ports = MakeDefaultPorts();
  AddServerConfPorts(ports, dir.text());
  EXPECT_EQ(ports, MakeDefaultPorts());
  EXPECT_EQ(fakes::File().opened.size(), 1u);
}

// The existence query fails (rather than answering no) for a name longer
// than the file system allows.
TEST_F(ServerConfTest, FailingExistenceQueryAddsNothing) {
  TempDir dir;
  PortSet ports = MakeDefaultPorts();
  ServerConfReading reading;
  EXPECT_NO_THROW(AddServerConfPorts(
      ports, (dir.path() / std::string(300, 'x')).string(), &reading));
  EXPECT_EQ(ports, MakeDefaultPorts());
#ifndef _WIN32
  // Not taken for absent, which would drop its ports without a warning.
  EXPECT_EQ(reading.outcome, ServerConfOutcome::kExistenceUnknown);
  EXPECT_EQ(reading.systemError, static_cast<std::uint32_t>(ENAMETOOLONG));
#endif
}

#ifndef _WIN32
TEST_F(ServerConfTest, SymbolicLinksCountByTheirTarget) {
  TempDir dir;
  TempDir target;
  target.Write("real.conf", R"({"ssl_port": 443})");
  fs::create_symlink(target.path() / "real.conf", dir.path() / "server.conf");
  TempDir dangling;
  fs::create_symlink(dangling.path() / "gone", dangling.path() / "server.conf");
  TempDir loop;
  fs::create_symlink(loop.path() / "server.conf", loop.path() / "server.conf");

  PortSet ports = MakeDefaultPorts();
  AddServerConfPorts(ports, dir.text());
  EXPECT_EQ(ports, With({"443"}));
  ports = MakeDefaultPorts();
  AddServerConfPorts(ports, dangling.text());
  EXPECT_NO_THROW(AddServerConfPorts(ports, loop.text()));
  EXPECT_EQ(ports, MakeDefaultPorts());
}

// Sanitizers reserve terabytes of shadow address space: no cap fits them.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// Runs AddServerConfPorts with the address space capped a little above what
// the process uses; exits 0 when std::bad_alloc reached this caller.
[[noreturn]] void ReadUnderMemoryCap(const std::string& directory) {
  unsigned long pages = 0;
  if (std::FILE* statm = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(statm, "%lu", &pages) != 1) pages = 0;
    std::fclose(statm);
  }
  if (pages == 0) std::_Exit(2);
  const rlim_t limit = pages * 4096ul + (16ul << 20);
  const rlimit cap = {limit, limit};
  setrlimit(RLIMIT_AS, &cap);
  PortSet ports;
  try {
    AddServerConfPorts(ports, directory);
  } catch (const std::bad_alloc&) {
    std::_Exit(0);
  }
  std::_Exit(3);
}

// RapidJSON's own allocator hands the parser a null pointer when memory runs
// out; the reader must turn that into std::bad_alloc for its caller.
TEST_F(ServerConfTest, MemoryExhaustionReachesTheCallerAsBadAlloc) {
  TempDir dir;
  std::string content = "{\"values\": [";
  content.reserve(4u << 20);
  while (content.size() < (4u << 20)) content += "0,";
  content += "0]}";
  dir.Write("server.conf", content);
  EXPECT_EXIT(ReadUnderMemoryCap(dir.text()), ::testing::ExitedWithCode(0), "");
}
#endif
#endif

}  // namespace

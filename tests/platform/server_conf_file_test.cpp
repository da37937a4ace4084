// server.conf is read as the bytes on disk: line ends stay CR LF and a byte
// 0x1A is a byte, not the end of the file the runtime's text mode would make
// of it. A parse error's offset counts bytes of the file.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <ostream>
#include <string>

#include "platform/file.h"
#include "ports/ports.h"

namespace {

class ServerConfFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    directory_ = std::string(temp) + "serverconf-" +
                 std::to_string(GetCurrentProcessId());
    CreateDirectoryA(directory_.c_str(), nullptr);
  }
  void TearDown() override {
    DeleteFileA(Path().c_str());
    RemoveDirectoryA(directory_.c_str());
  }

  std::string Path() const { return directory_ + "\\server.conf"; }

  void Write(const std::string& bytes) const {
    std::FILE* file = std::fopen(Path().c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fclose(file);
  }

  std::string directory_;
};

TEST_F(ServerConfFileTest, OpensForReadingTheBytesAsTheyAre) {
  const std::string bytes("{\r\n\x1a\r\r\n\n}\x1a", 10);
  Write(bytes);
  const platform::ScopedFile file(platform::OpenFileForRead(Path()));
  ASSERT_TRUE(file.IsValid());
  std::string read;
  for (int c = std::fgetc(file.Get()); c != EOF; c = std::fgetc(file.Get())) {
    read += static_cast<char>(c);
  }
  EXPECT_EQ(read, bytes);
}

// Each file: what becomes of it, the ports it adds, and where a parse fails.
struct ConfCase {
  const char* what;
  std::string bytes;
  ServerConfOutcome outcome;
  PortSet ports;
  std::size_t errorOffset;
};

void PrintTo(const ConfCase& c, std::ostream* out) { *out << c.what; }

class ServerConfBytesTest : public ServerConfFileTest,
                            public ::testing::WithParamInterface<ConfCase> {};

TEST_P(ServerConfBytesTest, ParsesTheBytesOnDisk) {
  const ConfCase& c = GetParam();
  Write(c.bytes);
  PortSet ports;
  ServerConfReading reading;
  AddServerConfPorts(ports, directory_, &reading);
  EXPECT_EQ(static_cast<int>(reading.outcome), static_cast<int>(c.outcome))
      << c.what;
  EXPECT_EQ(ports, c.ports) << c.what;
  EXPECT_EQ(reading.errorOffset, c.errorOffset) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Files, ServerConfBytesTest,
    ::testing::Values(
        ConfCase{"CR LF line ends",
                 "{\r\n\"ssl_port\": \"4443\",\r\n"
                 "\"listening_ports\": \"81,82\"\r\n}\r\n",
                 ServerConfOutcome::kUsed,
                 {"4443", "81", "82"},
                 0},
        // Text mode would end the file at 0x1A and take the object.
        ConfCase{"0x1A after the object",
                 "{\"ssl_port\": \"4443\"}\r\n\x1a",
                 ServerConfOutcome::kUnparsable,
                 {},
                 22},
        // Text mode would drop the CRs and place the error 3 bytes earlier.
        ConfCase{"an error after CR LF lines",
                 "{\r\n\"ssl_port\": \"4443\",\r\n\r\n\"x\" 1}",
                 ServerConfOutcome::kUnparsable,
                 {},
                 30}));

}  // namespace

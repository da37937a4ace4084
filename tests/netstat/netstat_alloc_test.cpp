// Memory running out in the parse of one listing line: that line alone is
// dropped (the recovery still kills the holders of the other lines), and
// Parse says false with the fields assigned before the refusal. operator new
// is replaced in this binary so that one allocation of a chosen size fails.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <string>

#include "netstat/netstat.h"

// The replacements below pair malloc with free, as they must; GCC sees the
// library's inlined new-expressions meet free and takes them for a mismatch.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {

std::size_t refusedSize = 0;  // the next allocation of this size fails; 0: none

}  // namespace

void* operator new(std::size_t size) {
  if (refusedSize != 0 && size == refusedSize) {
    refusedSize = 0;
    throw std::bad_alloc();
  }
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace {

// A local address of 100 bytes: its copy is the only allocation of 101.
const std::string kLongAddress(100, 'a');

TEST(NetstatAllocation, ALineWhoseParseRunsOutOfMemoryAloneIsDropped) {
  CNetstat table;
  table.text =
      "TCP    0.0.0.0:4033           0.0.0.0:0              LISTENING       "
      "884\n"
      "  TCP    " +
      kLongAddress +
      ":4044           0.0.0.0:0              LISTENING       912\n"
      "  TCP    0.0.0.0:4045           0.0.0.0:0              LISTENING       "
      "1200\n";
  refusedSize = kLongAddress.size() + 1;
  table.BuildIndex();
  const bool refused = refusedSize == 0;
  refusedSize = 0;

  ASSERT_TRUE(refused);
  EXPECT_EQ(table.portIndex.count("4044"), 0u);
  EXPECT_EQ(table.FindPids({"4033", "4044", "4045"}), (PidSet{"1200", "884"}));

  // Parse itself: false, with what it had assigned before.
  CNetstatPort record;
  refusedSize = kLongAddress.size() + 1;
  EXPECT_FALSE(record.Parse("  TCP    " + kLongAddress +
                            ":4044           0.0.0.0:0        LISTENING  912"));
  refusedSize = 0;
  EXPECT_EQ(record.pid, "912");
  EXPECT_EQ(record.localPort, "4044");
  EXPECT_EQ(record.localAddress, "");
  EXPECT_FALSE(record.isTcp);
}

}  // namespace

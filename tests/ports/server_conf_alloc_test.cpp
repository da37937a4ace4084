// Memory running out inside the JSON parse, one allocation at a time: the
// reader's allocator must turn each refusal into std::bad_alloc for its caller
// (RapidJSON would write through the null pointer), with the file closed.
// This binary is linked with --wrap=malloc,--wrap=realloc, so the direct
// calls of the reader's allocator land here; operator new is not affected.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <new>
#include <string>

#include "fakes/fake_file.h"
#include "ports/ports.h"

extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __real_realloc(void* memory, std::size_t size);

namespace {

struct Refusals {
  bool armed = false;
  int mallocs = 0, reallocs = 0;            // calls since armed
  int refuseMalloc = 0, refuseRealloc = 0;  // the call to refuse, from 1
};
Refusals refusals;

}  // namespace

extern "C" void* __wrap_malloc(std::size_t size) {
  if (refusals.armed && ++refusals.mallocs == refusals.refuseMalloc) {
    return nullptr;
  }
  return __real_malloc(size);
}

extern "C" void* __wrap_realloc(void* memory, std::size_t size) {
  if (refusals.armed && ++refusals.reallocs == refusals.refuseRealloc) {
    return nullptr;
  }
  return __real_realloc(memory, size);
}

namespace {

TEST(ServerConfAllocation, EachRefusedAllocationReachesTheCallerAsBadAlloc) {
  const struct {
    const char* what;
    int malloc, realloc;
  } cases[] = {
      {"the value pool's first chunk (first Malloc)", 1, 0},
      {"the parse stack's first block (first Realloc)", 0, 1},
      {"the parse stack growing (a later Realloc)", 0, 3},
  };
  const std::string directory = ::testing::TempDir();
  const std::string path = directory + "server.conf";
  {
    // Enough values to make the parse stack grow more than once.
    std::string content = "{\"listening_ports\": \"8080\", \"pad\": [";
    for (int i = 0; i < 20000; ++i) content += "1,";
    content += "1]}";
    std::ofstream(path, std::ios::binary) << content;
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fakes::File().Reset();
    PortSet ports = MakeDefaultPorts();
    refusals = Refusals();
    refusals.refuseMalloc = c.malloc;
    refusals.refuseRealloc = c.realloc;
    refusals.armed = true;
    bool badAlloc = false;
    try {
      AddServerConfPorts(ports, directory.substr(0, directory.size() - 1));
    } catch (const std::bad_alloc&) {
      badAlloc = true;
    }
    refusals.armed = false;

    EXPECT_TRUE(badAlloc);
    // The refusal happened where the case says.
    EXPECT_GE(refusals.mallocs, c.malloc);
    EXPECT_GE(refusals.reallocs, c.realloc);
    EXPECT_EQ(ports, MakeDefaultPorts());
    EXPECT_EQ(fakes::File().handedOut, 1);
    EXPECT_EQ(fakes::File().closed, 1);
  }
  // Unrefused, the same file is read.
  PortSet ports = MakeDefaultPorts();
  AddServerConfPorts(ports, directory.substr(0, directory.size() - 1));
  EXPECT_EQ(ports.count("8080"), 1u);
  std::remove(path.c_str());
}

}  // namespace

#include "fakes/fake_pipe.h"

#include <algorithm>
#include <cstring>

#include "platform/pipe.h"

namespace fakes {

PipeFake& Pipe() {
  static PipeFake fake;
  return fake;
}

}  // namespace fakes

namespace platform {

// An open pipe: the output it yields and how far it has been read.
struct ReadPipe {
  std::string output;
  std::size_t position = 0;
};

ReadPipe* OpenReadPipe(const char* command) {
  fakes::PipeFake& fake = fakes::Pipe();
  fake.commands.emplace_back(command);
  if (fake.onOpen) fake.onOpen();
  if (fake.failOpen) return nullptr;
  ++fake.opened;
  return new ReadPipe{fake.output, 0};
}

// Behaves as fgets: up to count - 1 bytes, stopping after a line feed, NULs
// copied like any other byte, then a terminating NUL.
bool ReadPipeLine(ReadPipe* pipe, char* buffer, int count) {
  if (count <= 1 || pipe->position >= pipe->output.size()) return false;
  const std::size_t room = static_cast<std::size_t>(count - 1);
  std::size_t end = pipe->output.find('\n', pipe->position);
  end = end == std::string::npos ? pipe->output.size() : end + 1;
  const std::size_t n = std::min(room, end - pipe->position);
  std::memcpy(buffer, pipe->output.data() + pipe->position, n);
  buffer[n] = '\0';
  pipe->position += n;
  ++fakes::Pipe().reads;
  return true;
}

void CloseReadPipe(ReadPipe* pipe) {
  ++fakes::Pipe().closed;
  delete pipe;
}

}  // namespace platform

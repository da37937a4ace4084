#include <cstdio>

#include "platform/pipe.h"

namespace platform {

ReadPipe* OpenReadPipe(const char* command) {
  return reinterpret_cast<ReadPipe*>(_popen(command, "r"));
}

bool ReadPipeLine(ReadPipe* pipe, char* buffer, int count) {
  return std::fgets(buffer, count, reinterpret_cast<std::FILE*>(pipe)) !=
         nullptr;
}

void CloseReadPipe(ReadPipe* pipe) {
  _pclose(reinterpret_cast<std::FILE*>(pipe));
}

}  // namespace platform

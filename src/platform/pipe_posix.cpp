#include <stdio.h>

#include "platform/pipe.h"

namespace platform {

ReadPipe* OpenReadPipe(const char* command) {
  return reinterpret_cast<ReadPipe*>(popen(command, "r"));
}

bool ReadPipeLine(ReadPipe* pipe, char* buffer, int count) {
  return fgets(buffer, count, reinterpret_cast<FILE*>(pipe)) != nullptr;
}

void CloseReadPipe(ReadPipe* pipe) { pclose(reinterpret_cast<FILE*>(pipe)); }

}  // namespace platform

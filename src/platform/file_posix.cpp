#include <cstdio>

#include "platform/file.h"

namespace platform {

std::FILE* OpenFileForRead(const std::string& path) {
  return std::fopen(path.c_str(), "rb");
}

void CloseFile(std::FILE* file) { std::fclose(file); }

}  // namespace platform

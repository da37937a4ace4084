#include <cstdio>

#include "platform/file.h"

namespace platform {

std::FILE* OpenFileForRead(const std::string& path) {
  std::FILE* file = nullptr;
  if (fopen_s(&file, path.c_str(), "rb") != 0) return nullptr;
  return file;
}

void CloseFile(std::FILE* file) { std::fclose(file); }

}  // namespace platform

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#include "platform/file.h"

namespace platform {

std::FILE* OpenFileForRead(const std::string& path) {
  return std::fopen(path.c_str(), "rb");
}

void CloseFile(std::FILE* file) { std::fclose(file); }

PathExistence QueryPathExistence(const std::string& path,
                                 std::uint32_t* error) {
  struct stat status;
  if (stat(path.c_str(), &status) == 0) return PathExistence::kExists;
  if (errno == ENOENT || errno == ENOTDIR) return PathExistence::kAbsent;
  *error = static_cast<std::uint32_t>(errno);
  return PathExistence::kUnknown;
}

}  // namespace platform

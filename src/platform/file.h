// Files the watchdog reads: the agent's configuration.
#ifndef DIDUROZIR_PLATFORM_FILE_H_
#define DIDUROZIR_PLATFORM_FILE_H_

#include <cstdio>
#include <string>

namespace platform {

// Separates a directory from a file name in a path.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// Opens `path` (narrow text in the ANSI code page) for reading in binary mode;
// null when it can't be opened.
std::FILE* OpenFileForRead(const std::string& path);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_FILE_H_

// Files the watchdog reads: the agent's configuration.
#ifndef DIDUROZIR_PLATFORM_FILE_H_
#define DIDUROZIR_PLATFORM_FILE_H_

#include <cstdio>
#include <string>
#include <utility>

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

// Closes a file that OpenFileForRead opened.
void CloseFile(std::FILE* file);

// Owns an open file and closes it exactly once.
class ScopedFile {
 public:
  explicit ScopedFile(std::FILE* file = nullptr) : file_(file) {}
  ScopedFile(ScopedFile&& other) noexcept
      : file_(std::exchange(other.file_, nullptr)) {}
  ScopedFile& operator=(ScopedFile&& other) noexcept {
    if (this != &other) {
      Reset();
      file_ = std::exchange(other.file_, nullptr);
    }
    return *this;
  }
  ScopedFile(const ScopedFile&) = delete;
  ScopedFile& operator=(const ScopedFile&) = delete;
  ~ScopedFile() { Reset(); }

  bool IsValid() const { return file_ != nullptr; }
  std::FILE* Get() const { return file_; }
  void Reset() {
    if (file_ != nullptr) CloseFile(std::exchange(file_, nullptr));
  }

 private:
  std::FILE* file_;  // Null when nothing is owned.
};

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_FILE_H_

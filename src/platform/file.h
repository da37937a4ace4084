// Files the watchdog reads: the agent's configuration.
#ifndef DIDUROZIR_PLATFORM_FILE_H_
#define DIDUROZIR_PLATFORM_FILE_H_

#include <cstdint>
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

enum class PathExistence {
  kExists,  // a file, a folder or another object; a symbolic link by its target
  kAbsent,  // nothing of that name, or a folder on the way is missing
  kUnknown,  // the system could not tell
};
// Whether `path` (narrow text in the code page of the file functions, as for
// OpenFileForRead) names something. Only "no such file" and "no such path"
// count as absent: a share that does not answer, a drive that is not ready,
// a name too long or a folder on the way that denies access is kUnknown,
// with the system's error code in `error`, since taking such a file for
// absent would drop its ports without a word.
PathExistence QueryPathExistence(const std::string& path, std::uint32_t* error);

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

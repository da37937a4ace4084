#include <windows.h>

#include <cstdio>
#include <string>

#include "platform/file.h"

namespace platform {

std::FILE* OpenFileForRead(const std::string& path) {
  std::FILE* file = nullptr;
  if (fopen_s(&file, path.c_str(), "rb") != 0) return nullptr;
  return file;
}

void CloseFile(std::FILE* file) { std::fclose(file); }

namespace {

bool IsNotFound(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

// Closes a file handle on every way out.
class ScopedFileHandle {
 public:
  explicit ScopedFileHandle(HANDLE handle) : handle_(handle) {}
  ScopedFileHandle(const ScopedFileHandle&) = delete;
  ScopedFileHandle& operator=(const ScopedFileHandle&) = delete;
  ~ScopedFileHandle() {
    if (IsValid()) CloseHandle(handle_);
  }
  bool IsValid() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

PathExistence Unknown(DWORD code, std::uint32_t* error) {
  *error = code;
  return PathExistence::kUnknown;
}

}  // namespace

PathExistence QueryPathExistence(const std::string& path,
                                 std::uint32_t* error) {
  // The code page fopen_s converts a narrow path with.
  const UINT page = AreFileApisANSI() ? CP_ACP : CP_OEMCP;
  const int units = MultiByteToWideChar(page, 0, path.c_str(), -1, nullptr, 0);
  if (units <= 0) return Unknown(GetLastError(), error);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(page, 0, path.c_str(), -1, &wide[0], units) <= 0) {
    return Unknown(GetLastError(), error);
  }
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = GetLastError();
    return IsNotFound(code) ? PathExistence::kAbsent : Unknown(code, error);
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    return PathExistence::kExists;
  }
  // A link counts by its target: opening it follows the link.
  const ScopedFileHandle target(
      CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (target.IsValid()) return PathExistence::kExists;
  const DWORD code = GetLastError();
  return IsNotFound(code) ? PathExistence::kAbsent : Unknown(code, error);
}

}  // namespace platform

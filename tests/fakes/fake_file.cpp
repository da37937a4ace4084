// Files are real in the tests (temporary folders); only failures are emulated.
#include "fakes/fake_file.h"

#include <boost/filesystem/operations.hpp>

#include "platform/file.h"

namespace fakes {

FileFake& File() {
  static FileFake fake;
  return fake;
}

}  // namespace fakes

namespace platform {

std::FILE* OpenFileForRead(const std::string& path) {
  fakes::FileFake& fake = fakes::File();
  fake.opened.push_back(path);
  if (fake.failOpen) return nullptr;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file != nullptr) ++fake.handedOut;
  return file;
}

PathExistence QueryPathExistence(const std::string& path,
                                 std::uint32_t* error) {
  if (fakes::File().existenceError != 0) {
    *error = fakes::File().existenceError;
    return PathExistence::kUnknown;
  }
  boost::system::error_code code;
  const boost::filesystem::file_status status =
      boost::filesystem::status(boost::filesystem::path(path), code);
  if (status.type() == boost::filesystem::file_not_found) {
    return PathExistence::kAbsent;
  }
  if (code) {
    *error = static_cast<std::uint32_t>(code.value());
    return PathExistence::kUnknown;
  }
  return PathExistence::kExists;
}

void CloseFile(std::FILE* file) {
  ++fakes::File().closed;
  std::fclose(file);
}

}  // namespace platform

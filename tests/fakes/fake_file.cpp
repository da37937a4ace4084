// Files are real in the tests (temporary folders); only failures are emulated.
#include "fakes/fake_file.h"

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

void CloseFile(std::FILE* file) {
  ++fakes::File().closed;
  std::fclose(file);
}

}  // namespace platform

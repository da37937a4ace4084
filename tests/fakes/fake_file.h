// File opening for the unit tests: real files, with failures on demand.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_FILE_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_FILE_H_

#include <string>
#include <vector>

namespace fakes {

struct FileFake {
  bool failOpen = false;  // OpenFileForRead returns null
  // QueryPathExistence can't tell, with this system error code; 0: it asks
  // the real file system.
  unsigned existenceError = 0;
  std::vector<std::string> opened;  // every path asked for, in order
  int handedOut = 0;                // files actually opened
  int closed = 0;                   // CloseFile calls

  void Reset() { *this = FileFake(); }
};

// The process-wide emulation that every test shares; reset it in SetUp.
FileFake& File();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_FILE_H_

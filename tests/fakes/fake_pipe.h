// The emulated command interpreter behind platform/pipe.h.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_PIPE_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_PIPE_H_

#include <functional>
#include <string>
#include <vector>

namespace fakes {

struct PipeFake {
  bool failOpen = false;  // OpenReadPipe returns null
  std::string output;     // what every opened pipe yields, bytes as they are
  std::vector<std::string> commands;  // every command line opened, in order
  // Runs at every OpenReadPipe, on the caller's thread, before it answers.
  std::function<void()> onOpen;
  int opened = 0;  // pipes handed out
  int closed = 0;  // pipes closed
  int reads = 0;   // ReadPipeLine calls that returned data

  void Reset() { *this = PipeFake(); }
};

// The process-wide emulation that every test shares; reset it in SetUp.
PipeFake& Pipe();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_PIPE_H_

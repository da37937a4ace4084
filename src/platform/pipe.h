// Reading a command's standard output through a pipe.
#ifndef DIDUROZIR_PLATFORM_PIPE_H_
#define DIDUROZIR_PLATFORM_PIPE_H_

#include <utility>

namespace platform {

// A stream on the standard output of a command that is running.
struct ReadPipe;

// Runs `command` through the command interpreter and returns a stream on its
// standard output, in text mode (CR LF arrives as LF); null when it can't.
ReadPipe* OpenReadPipe(const char* command);

// Reads up to `count` - 1 bytes into `buffer`, stopping after a line feed, and
// adds a NUL. False at the end of the output or on a read error.
bool ReadPipeLine(ReadPipe* pipe, char* buffer, int count);

// Waits for the command to end and closes the stream. The exit status is not
// reported: nobody needs it.
void CloseReadPipe(ReadPipe* pipe);

// Owns an open pipe and closes it exactly once.
class ScopedReadPipe {
 public:
  explicit ScopedReadPipe(ReadPipe* pipe = nullptr) : pipe_(pipe) {}
  ScopedReadPipe(ScopedReadPipe&& other) noexcept
      : pipe_(std::exchange(other.pipe_, nullptr)) {}
  ScopedReadPipe& operator=(ScopedReadPipe&& other) noexcept {
    if (this != &other) {
      Reset();
      pipe_ = std::exchange(other.pipe_, nullptr);
    }
    return *this;
  }
  ScopedReadPipe(const ScopedReadPipe&) = delete;
  ScopedReadPipe& operator=(const ScopedReadPipe&) = delete;
  ~ScopedReadPipe() { Reset(); }

  bool IsValid() const { return pipe_ != nullptr; }
  ReadPipe* Get() const { return pipe_; }
  void Reset() {
    if (pipe_ != nullptr) CloseReadPipe(std::exchange(pipe_, nullptr));
  }

 private:
  ReadPipe* pipe_;  // Null when nothing is owned.
};

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_PIPE_H_

#include "fakes/fake_console.h"

#include <cstdio>
#include <mutex>

namespace fakes {

ConsoleFake& Console() {
  static ConsoleFake fake;
  return fake;
}

}  // namespace fakes

namespace platform {

void WriteStdout(std::string_view text, Encoding encoding) {
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  fakes::ConsoleFake& fake = fakes::Console();
  if (fake.onWrite) fake.onWrite(text);
  if (fake.isConsole) {
    fake.written.emplace_back(std::string(text), encoding);
    return;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
}

}  // namespace platform

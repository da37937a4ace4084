// The emulated console behind platform/console.h.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_CONSOLE_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_CONSOLE_H_

#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/console.h"

namespace fakes {

struct ConsoleFake {
  // Standard output is a console: texts land in `written` instead of on the
  // process's standard output, as the console would get them.
  bool isConsole = false;
  std::vector<std::pair<std::string, platform::Encoding>> written;
  // Runs at every write, before it; may throw, as a failing write would.
  std::function<void(std::string_view)> onWrite;

  void Reset() { *this = ConsoleFake(); }
};

ConsoleFake& Console();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_CONSOLE_H_

// Emulated process services behind platform/system.h: the executable's path,
// the console, error texts, sleeps that never wait, and Winsock.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_SYSTEM_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_SYSTEM_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace fakes {

// Thrown by SleepMilliseconds once the sleep budget is spent, to end a loop
// that would otherwise never end.
struct SleepBudgetSpent {};

struct SystemFake {
  std::wstring moduleFileName = L"C:\\QUENTAR\\didurozir.exe";
  bool hasConsole = false;
  int dllSearchRestrictions = 0;

  // The system message table; a code without an entry has no text.
  std::map<std::uint32_t, std::wstring> messages = {
      {6, L"The handle is invalid.\r\n"},
      {258, L"The wait operation timed out.\r\n"},
      {1056, L"An instance of the service is already running.\r\n"},
      {1060,
       L"The specified service does not exist as an installed "
       L"service.\r\n"},
      {1062, L"The service has not been started.\r\n"},
      {1073, L"The specified service already exists.\r\n"},
  };
  int messagesFormatted = 0;
  int messagesFreed = 0;

  std::vector<std::uint32_t> sleeps;  // every sleep, in milliseconds
  int sleepBudget = -1;  // sleeps allowed before SleepBudgetSpent; -1: any
  // Runs at every sleep, after it is recorded: lets a test change the world
  // while the code under test waits.
  std::function<void()> onSleep;

  bool failWinsock = false;
  int winsockStarts = 0;
  int winsockStops = 0;

  void Reset() { *this = SystemFake(); }
};

SystemFake& System();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_SYSTEM_H_

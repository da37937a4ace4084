#include "fakes/fake_system.h"

#include <algorithm>

#include "platform/system.h"

namespace fakes {

SystemFake& System() {
  static SystemFake fake;
  return fake;
}

}  // namespace fakes

namespace platform {

std::wstring ModuleFileName() { return fakes::System().moduleFileName; }

bool HasConsoleWindow() { return fakes::System().hasConsole; }

bool RestrictDllSearchToSystemDirectory() {
  ++fakes::System().dllSearchRestrictions;
  return true;
}

wchar_t* FormatSystemMessage(std::uint32_t code) {
  fakes::SystemFake& fake = fakes::System();
  auto message = fake.messages.find(code);
  if (message == fake.messages.end()) return nullptr;
  ++fake.messagesFormatted;
  const std::wstring& text = message->second;
  wchar_t* copy = new wchar_t[text.size() + 1];
  std::copy(text.begin(), text.end(), copy);
  copy[text.size()] = L'\0';
  return copy;
}

void FreeSystemMessage(wchar_t* text) {
  ++fakes::System().messagesFreed;
  delete[] text;
}

void SleepMilliseconds(std::uint32_t milliseconds) {
  fakes::SystemFake& fake = fakes::System();
  if (fake.sleepBudget >= 0 &&
      static_cast<int>(fake.sleeps.size()) >= fake.sleepBudget) {
    throw fakes::SleepBudgetSpent();
  }
  fake.sleeps.push_back(milliseconds);
  if (fake.onSleep) fake.onSleep();
}

bool StartWinsock() {
  fakes::SystemFake& fake = fakes::System();
  if (fake.failWinsock) return false;
  ++fake.winsockStarts;
  return true;
}

void StopWinsock() { ++fakes::System().winsockStops; }

}  // namespace platform

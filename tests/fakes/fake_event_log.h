// The emulated Event Log behind platform/event_log.h.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_EVENT_LOG_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_EVENT_LOG_H_

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/event_log.h"

namespace fakes {

struct FakeEvent {
  std::wstring source;
  platform::EventType type;
  std::uint32_t id;
  std::vector<std::string> inserts;
};

// Updated under a lock by the writing threads; read it after they have ended
// or while they wait in a sleep.
struct EventLogFake {
  std::vector<FakeEvent> events;  // every event written, in order
  bool failWrite = false;         // WriteEvent writes nothing, false
  // Registered sources: name -> EventMessageFile.
  std::map<std::wstring, std::wstring> sources;
  std::uint32_t failRegister = 0;  // RegisterEventLogSource returns this code
  std::uint32_t failRemove = 0;    // RemoveEventLogSource returns this code

  std::vector<std::uint32_t> Ids() const;
  void Reset() { *this = EventLogFake(); }
};

EventLogFake& EventLog();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_EVENT_LOG_H_

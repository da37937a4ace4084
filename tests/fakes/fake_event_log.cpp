#include "fakes/fake_event_log.h"

#include <mutex>

namespace fakes {
namespace {

std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

}  // namespace

EventLogFake& EventLog() {
  static EventLogFake fake;
  return fake;
}

std::vector<std::uint32_t> EventLogFake::Ids() const {
  std::vector<std::uint32_t> ids;
  for (const FakeEvent& event : events) ids.push_back(event.id);
  return ids;
}

}  // namespace fakes

namespace platform {

bool WriteEvent(const wchar_t* source, EventType type, std::uint32_t id,
                const std::vector<std::string>& inserts) {
  std::lock_guard<std::mutex> lock(fakes::Lock());
  fakes::EventLogFake& fake = fakes::EventLog();
  if (fake.failWrite) return false;
  fake.events.push_back({source, type, id, inserts});
  return true;
}

std::uint32_t RegisterEventLogSource(const wchar_t* source,
                                     const std::wstring& messageFile) {
  std::lock_guard<std::mutex> lock(fakes::Lock());
  fakes::EventLogFake& fake = fakes::EventLog();
  if (fake.failRegister != 0) return fake.failRegister;
  fake.sources[source] = messageFile;
  return 0;
}

std::uint32_t RemoveEventLogSource(const wchar_t* source) {
  std::lock_guard<std::mutex> lock(fakes::Lock());
  fakes::EventLogFake& fake = fakes::EventLog();
  if (fake.failRemove != 0) return fake.failRemove;
  fake.sources.erase(source);
  return 0;
}

}  // namespace platform

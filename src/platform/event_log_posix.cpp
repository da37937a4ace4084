#include "platform/event_log.h"

// There is no Event Log here: events are dropped, and there is no source to
// register.
namespace platform {

bool WriteEvent(const wchar_t*, EventType, std::uint32_t,
                const std::vector<std::string>&) {
  return false;
}

std::uint32_t RegisterEventLogSource(const wchar_t*, const std::wstring&) {
  return 0;
}

std::uint32_t RemoveEventLogSource(const wchar_t*) { return 0; }

}  // namespace platform

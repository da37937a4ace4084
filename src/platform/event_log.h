// The Windows Event Log: events of the watchdog's source in the Application
// log, and the registration of that source.
#ifndef DIDUROZIR_PLATFORM_EVENT_LOG_H_
#define DIDUROZIR_PLATFORM_EVENT_LOG_H_

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// The event types of the Event Log, by their system values.
enum class EventType : std::uint16_t {
  kError = 1,
  kWarning = 2,
  kInformation = 4,
};

// Writes event `id` of `source` to the Application log, its message's
// inserts %1, %2, ... taken from `inserts`. The inserts are UTF-8 and reach
// the log as UTF-16 (ReportEventW), each cut to the log's limit of 31,000
// units at a character's boundary; an ill-formed sequence shows as U+FFFD.
// Best effort: false when it was not written.
bool WriteEvent(const wchar_t* source, EventType type, std::uint32_t id,
                const std::vector<std::string>& inserts);

// Creates or updates the source's key under HKEY_LOCAL_MACHINE
// "SYSTEM\CurrentControlSet\Services\EventLog\Application": EventMessageFile
// = `messageFile`, TypesSupported = 7. Returns 0 or the system's error code.
std::uint32_t RegisterEventLogSource(const wchar_t* source,
                                     const std::wstring& messageFile);

// Deletes that key; 0 also when there was none, else the system's error code.
std::uint32_t RemoveEventLogSource(const wchar_t* source);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_EVENT_LOG_H_

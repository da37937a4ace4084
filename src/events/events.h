// The watchdog's record of what it did, in the Windows Event Log under the
// source "didurozir". Event IDs and texts are stable; docs/events.md lists
// them. Supervision tells the record what happened; the record decides what
// becomes an event, so that an idle cycle writes nothing and a long outage
// does not flood the log.
#ifndef DIDUROZIR_EVENTS_EVENTS_H_
#define DIDUROZIR_EVENTS_EVENTS_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/event_log.h"

namespace events {

constexpr wchar_t kSourceName[] = L"didurozir";

// Event IDs, as the message table numbers its messages.
enum : std::uint32_t {
  kServiceStarted = 1000,
  kAgentKeyMissing = 1001,
  kAgentImagePathEmpty = 1002,
  kMonitorNotStarted = 1003,
  kStopReceived = 1010,
  kPauseReceived = 1011,
  kContinueReceived = 1012,
  kShutdownReceived = 1013,
  kRecovery = 2000,
  kAgentRunningAgain = 2001,
  kRepeatedRecoveries = 2002,
  kOutageGoesOn = 2003,
  kServerConfUnusable = 3000,
  kServerConfUsable = 3001,
};

struct EventDefinition {
  std::uint32_t id;
  platform::EventType type;
  std::size_t inserts;  // how many %n its message takes
};
// Every event the program writes.
extern const EventDefinition kEventDefinitions[];
extern const std::size_t kEventDefinitionCount;

// Writes event `id` with `inserts`; best effort, never throws. Every text of
// the record, the inserts and the texts below alike, is UTF-8: convert narrow
// text with the code page it was made in (platform::AnsiToUtf8) and wide text
// straight from UTF-16 (platform::WideToUtf8), never through a code page.
void Report(std::uint32_t id, const std::vector<std::string>& inserts);

// A process that a recovery killed.
struct KilledProcess {
  std::string pid;
  std::string imageName;           // as the process list showed it; empty
                                   // when it was not in the list
  std::vector<std::string> ports;  // the watched local ports it held
};
// A PID text of the listing that got no kill command, and why.
struct SkippedPid {
  std::string pid;
  std::string reason;
};
// One recovery, as it went.
struct Recovery {
  std::vector<KilledProcess> killed;
  std::vector<SkippedPid> skipped;
  std::size_t stillAlive = 0;  // killed processes still there after the pause
  std::string startCommand;
  int startExitCode = 0;
};

// Supervision's happenings. Called on the monitor thread (two of them for a
// moment after a pause and a quick continue); each call is cheap when it
// writes nothing.
void RecordRecovery(const Recovery& recovery);
// A cycle found the agent running.
void RecordAgentRunning();
// The state of the agent's server.conf as a recovery (or the start) read it.
enum class ConfState { kUsable, kAbsent, kUnreadable, kUnparsable, kNotObject };
void RecordServerConf(const std::string& path, ConfState state,
                      const std::string& detail);

// Forgets every outage and rate: for tests, and a process starting anew.
void ResetRecord();

}  // namespace events

#endif  // DIDUROZIR_EVENTS_EVENTS_H_

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
  kLeftOutSummary = 2004,
  kServerConfUnusable = 3000,
  kServerConfUsable = 3001,
  kAuditFindings = 4000,
  kAuditCleared = 4001,
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
  int startExitCode = 0;  // meaningless when cut short
  // A stop, a pause or a failure ended the recovery before its start command
  // returned; what it killed until then is in `killed`.
  bool cutShort = false;
  std::size_t killsNotRun = 0;   // kill commands decided on but never run
  std::size_t checksNotRun = 0;  // killed processes never checked for life
  // The command that was still running when the process ended and the record
  // was written without it (a kill command, or `startCommand`); its outcome
  // is unknown. Empty otherwise.
  std::string stillRunning;
};

// Supervision's happenings. Called on the monitor thread (two of them for a
// moment after a pause and a quick continue); each call is cheap when it
// writes nothing. In any rolling hour at most kEventsPerHour recoveries and
// as many returns of the agent get an event of their own; the rest go into
// one summary (kLeftOutSummary) at most once an hour, written at the first
// call an hour after the previous one, so that no kill goes unrecorded.
constexpr std::size_t kEventsPerHour = 10;
void RecordRecovery(const Recovery& recovery);
// A cycle found the agent running (every idle cycle calls it too).
void RecordAgentRunning();
// Writes the summary of what the record holds back at once, whatever the
// hourly bound; for the end of supervision (stop, pause, shutdown), after
// which the process may end with the sum. Never throws.
void FlushRecord();
// The state of the agent's server.conf as a recovery (or the start) read it.
enum class ConfState {
  kUsable,
  kAbsent,
  kUnreadable,
  kUnparsable,
  kNotObject,
  kExistenceUnknown,  // the system could not tell whether it exists
};
void RecordServerConf(const std::string& path, ConfState state,
                      const std::string& detail);

// Forgets every outage and rate: for tests, and a process starting anew.
void ResetRecord();

}  // namespace events

#endif  // DIDUROZIR_EVENTS_EVENTS_H_

#include "events/events.h"

#include <chrono>
#include <deque>
#include <mutex>
#include <optional>

#include "platform/thread.h"

namespace events {

using platform::EventType;

const EventDefinition kEventDefinitions[] = {
    {kServiceStarted, EventType::kInformation, 3},
    {kAgentKeyMissing, EventType::kError, 1},
    {kAgentImagePathEmpty, EventType::kError, 1},
    {kMonitorNotStarted, EventType::kError, 0},
    {kStopReceived, EventType::kInformation, 0},
    {kPauseReceived, EventType::kInformation, 0},
    {kContinueReceived, EventType::kInformation, 0},
    {kShutdownReceived, EventType::kInformation, 0},
    {kRecovery, EventType::kWarning, 5},
    {kAgentRunningAgain, EventType::kInformation, 2},
    {kRepeatedRecoveries, EventType::kWarning, 1},
    {kOutageGoesOn, EventType::kWarning, 3},
    {kServerConfUnusable, EventType::kWarning, 2},
    {kServerConfUsable, EventType::kInformation, 1},
    {kAuditFindings, EventType::kError, 2},
    {kAuditCleared, EventType::kInformation, 0},
};
const std::size_t kEventDefinitionCount =
    sizeof kEventDefinitions / sizeof kEventDefinitions[0];

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::hours;

// The first recoveries of an outage get an event each; after them one summary
// an hour until the agent runs again.
constexpr int kRecoveriesReportedOneByOne = 10;
// This many recoveries within an hour earn a warning, once an hour at most.
constexpr std::size_t kRecoveriesForAWarning = 3;

// What the record remembers between cycles.
struct RecordState {
  // Recoveries since the agent was last seen running; 0: no outage.
  int outageRecoveries = 0;
  Clock::time_point lastRecovery;  // valid in an outage
  int recoveriesSinceSummary = 0;  // left out of the log since the summary
  std::optional<Clock::time_point> lastSummary;
  std::deque<Clock::time_point> recentRecoveries;  // within the last hour
  std::optional<Clock::time_point> lastRepeatWarning;
  std::optional<ConfState> confState;  // as last reported
  std::string confPath;
  std::string confDetail;
};

std::mutex& RecordLock() {
  static std::mutex* mutex = new std::mutex;  // outlives any monitor thread
  return *mutex;
}
RecordState& State() {
  static RecordState* state = new RecordState;
  return *state;
}

EventType TypeOf(std::uint32_t id) {
  for (const EventDefinition& definition : kEventDefinitions) {
    if (definition.id == id) return definition.type;
  }
  return EventType::kInformation;
}

std::string Joined(const std::vector<std::string>& parts,
                   const char* separator) {
  std::string text;
  for (const std::string& part : parts) {
    if (!text.empty()) text += separator;
    text += part;
  }
  return text;
}

std::string KilledText(const std::vector<KilledProcess>& killed) {
  if (killed.empty()) return "none";
  std::vector<std::string> lines;
  for (const KilledProcess& process : killed) {
    std::string line = "PID " + process.pid + " (";
    line += process.imageName.empty() ? "not in the process list"
                                      : process.imageName;
    line += process.ports.size() == 1 ? ", port " : ", ports ";
    line += Joined(process.ports, ", ") + ")";
    lines.push_back(line);
  }
  return Joined(lines, "; ");
}

std::string SkippedText(const std::vector<SkippedPid>& skipped) {
  if (skipped.empty()) return "none";
  std::vector<std::string> lines;
  for (const SkippedPid& pid : skipped) {
    lines.push_back("\"" + pid.pid + "\" (" + pid.reason + ")");
  }
  return Joined(lines, "; ");
}

long long SecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::seconds>(to - from).count();
}

void ReportRecovery(const Recovery& recovery) {
  Report(kRecovery, {KilledText(recovery.killed), SkippedText(recovery.skipped),
                     std::to_string(recovery.stillAlive), recovery.startCommand,
                     std::to_string(recovery.startExitCode)});
}

}  // namespace

void Report(std::uint32_t id, const std::vector<std::string>& inserts) {
  platform::WriteEvent(kSourceName, TypeOf(id), id, inserts);
}

void RecordRecovery(const Recovery& recovery) {
  try {
    std::lock_guard<std::mutex> lock(RecordLock());
    RecordState& state = State();
    const Clock::time_point now = platform::MonotonicNow();
    ++state.outageRecoveries;
    state.lastRecovery = now;
    if (state.outageRecoveries <= kRecoveriesReportedOneByOne) {
      ReportRecovery(recovery);
    } else {
      ++state.recoveriesSinceSummary;
      if (!state.lastSummary || now - *state.lastSummary >= hours(1)) {
        Report(kOutageGoesOn, {std::to_string(state.outageRecoveries),
                               std::to_string(state.recoveriesSinceSummary),
                               std::to_string(kRecoveriesReportedOneByOne)});
        state.lastSummary = now;
        state.recoveriesSinceSummary = 0;
      }
    }
    state.recentRecoveries.push_back(now);
    while (now - state.recentRecoveries.front() >= hours(1)) {
      state.recentRecoveries.pop_front();
    }
    if (state.recentRecoveries.size() >= kRecoveriesForAWarning &&
        (!state.lastRepeatWarning ||
         now - *state.lastRepeatWarning >= hours(1))) {
      Report(kRepeatedRecoveries,
             {std::to_string(state.recentRecoveries.size())});
      state.lastRepeatWarning = now;
    }
  } catch (...) {
    // The record must never cost supervision a cycle.
  }
}

void RecordAgentRunning() {
  try {
    std::lock_guard<std::mutex> lock(RecordLock());
    RecordState& state = State();
    if (state.outageRecoveries == 0) return;
    const Clock::time_point now = platform::MonotonicNow();
    Report(kAgentRunningAgain,
           {std::to_string(SecondsBetween(state.lastRecovery, now)),
            std::to_string(state.outageRecoveries)});
    state.outageRecoveries = 0;
    state.recoveriesSinceSummary = 0;
    state.lastSummary.reset();
  } catch (...) {
  }
}

void RecordServerConf(const std::string& path, ConfState state,
                      const std::string& detail) {
  try {
    std::lock_guard<std::mutex> lock(RecordLock());
    RecordState& record = State();
    // An absent file is the ordinary case, no cause for a warning.
    const bool usable =
        state == ConfState::kUsable || state == ConfState::kAbsent;
    const bool wasUnusable = record.confState &&
                             *record.confState != ConfState::kUsable &&
                             *record.confState != ConfState::kAbsent;
    const bool changed = !record.confState || *record.confState != state ||
                         record.confPath != path || record.confDetail != detail;
    if (changed && !usable) Report(kServerConfUnusable, {path, detail});
    if (changed && usable && wasUnusable) Report(kServerConfUsable, {path});
    record.confState = state;
    record.confPath = path;
    record.confDetail = detail;
  } catch (...) {
  }
}

void ResetRecord() {
  std::lock_guard<std::mutex> lock(RecordLock());
  State() = RecordState();
}

}  // namespace events

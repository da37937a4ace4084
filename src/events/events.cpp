#include "events/events.h"

#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>

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
    {kRecovery, EventType::kWarning, 6},
    {kAgentRunningAgain, EventType::kInformation, 2},
    {kRepeatedRecoveries, EventType::kWarning, 1},
    {kOutageGoesOn, EventType::kWarning, 3},
    {kLeftOutSummary, EventType::kWarning, 6},
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

// What the hour's summary sums up: the recoveries and returns of the agent
// that got no event of their own, since the last summary.
struct LeftOut {
  int recoveries = 0;  // every recovery since the last summary
  int recoveriesLeftOut = 0;
  std::map<std::string, int> killed;  // image name -> processes killed
  std::map<int, int> failedStarts;    // exit code -> start commands
  int cutShort = 0;
  int returnsLeftOut = 0;

  bool Empty() const { return recoveriesLeftOut == 0 && returnsLeftOut == 0; }
};

// What the record remembers between cycles.
struct RecordState {
  // Recoveries since the agent was last seen running; 0: no outage.
  int outageRecoveries = 0;
  Clock::time_point lastRecovery;  // valid in an outage
  int recoveriesSinceSummary = 0;  // left out of the log since the summary
  std::optional<Clock::time_point> lastSummary;
  std::deque<Clock::time_point> recentRecoveries;  // within the last hour
  std::optional<Clock::time_point> lastRepeatWarning;
  // The events of their own written within the last hour, for the bound.
  std::deque<Clock::time_point> recoveryEvents;
  std::deque<Clock::time_point> returnEvents;
  LeftOut leftOut;
  std::optional<Clock::time_point> lastLeftOutSummary;
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

// "1 killed process", "2 killed processes".
std::string Counted(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

bool StartStillRunning(const Recovery& recovery) {
  return !recovery.stillRunning.empty() &&
         recovery.stillRunning == recovery.startCommand;
}

// How the recovery ended, for the first line of its event: what an
// administrator must know before the lists.
std::string OutcomeText(const Recovery& recovery) {
  if (!recovery.cutShort) {
    if (recovery.startExitCode == 0) {
      return "Its ports were freed and it was started again.";
    }
    return "Its ports were freed, but its start command failed with exit "
           "code " +
           std::to_string(recovery.startExitCode) + ".";
  }
  if (StartStillRunning(recovery)) {
    return "The service stopped while the agent's start command was still "
           "running: whether the agent started is not known.";
  }
  std::string text =
      recovery.stillRunning.empty()
          ? "The recovery was cut short by a stop, a pause or a failure, so "
            "the agent was not started. Not run: the start command"
          : "The recovery was cut short: the service stopped while the "
            "command \"" +
                recovery.stillRunning +
                "\" was still running, so the agent was not started. Not "
                "run: the start command";
  if (recovery.checksNotRun != 0) {
    text +=
        ", the check whether " +
        Counted(recovery.checksNotRun, "killed process", "killed processes") +
        " ended";
  }
  if (recovery.killsNotRun != 0) {
    text +=
        ", " + Counted(recovery.killsNotRun, "kill command", "kill commands");
  }
  return text + ".";
}

void ReportRecovery(const Recovery& recovery) {
  Report(kRecovery, {KilledText(recovery.killed), SkippedText(recovery.skipped),
                     std::to_string(recovery.stillAlive), recovery.startCommand,
                     !recovery.cutShort ? std::to_string(recovery.startExitCode)
                     : StartStillRunning(recovery) ? "not known"
                                                   : "not run",
                     OutcomeText(recovery)});
}

// Forgets the events older than an hour; true when `written` leaves room for
// one more event of its own.
bool RoomForAnEvent(std::deque<Clock::time_point>& written,
                    Clock::time_point now) {
  while (!written.empty() && now - written.front() >= hours(1)) {
    written.pop_front();
  }
  return written.size() < kEventsPerHour;
}

void AddLeftOut(LeftOut& sum, const Recovery& recovery) {
  ++sum.recoveriesLeftOut;
  for (const KilledProcess& process : recovery.killed) {
    ++sum.killed[process.imageName.empty() ? "not in the process list"
                                           : process.imageName];
  }
  if (recovery.cutShort) {
    ++sum.cutShort;
  } else if (recovery.startExitCode != 0) {
    ++sum.failedStarts[recovery.startExitCode];
  }
}

template <typename Key>
std::string CountsText(const std::map<Key, int>& counts,
                       const char* keyPrefix) {
  if (counts.empty()) return "none";
  std::vector<std::string> parts;
  for (const auto& entry : counts) {
    std::ostringstream part;
    part << keyPrefix << entry.first << ": " << entry.second;
    parts.push_back(part.str());
  }
  return Joined(parts, "; ");
}

void ReportLeftOut(RecordState& state, Clock::time_point now) {
  const LeftOut& sum = state.leftOut;
  Report(
      kLeftOutSummary,
      {std::to_string(sum.recoveries), std::to_string(sum.recoveriesLeftOut),
       CountsText(sum.killed, ""), CountsText(sum.failedStarts, "exit code "),
       std::to_string(sum.cutShort), std::to_string(sum.returnsLeftOut)});
  state.leftOut = LeftOut();
  state.lastLeftOutSummary = now;
}

// The summary is due when something was left out and no summary was written
// within the last hour. Checked at every call, idle cycles included, so that
// a sum is written within a cycle of its hour even when the loop has ended.
void SummarizeWhenDue(RecordState& state, Clock::time_point now) {
  if (state.leftOut.Empty()) return;
  if (state.lastLeftOutSummary && now - *state.lastLeftOutSummary < hours(1)) {
    return;
  }
  ReportLeftOut(state, now);
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
    ++state.leftOut.recoveries;
    // Both bounds: the first recoveries of an outage, and the hour's count.
    if (state.outageRecoveries <= kRecoveriesReportedOneByOne &&
        RoomForAnEvent(state.recoveryEvents, now)) {
      ReportRecovery(recovery);
      state.recoveryEvents.push_back(now);
    } else {
      AddLeftOut(state.leftOut, recovery);
    }
    if (state.outageRecoveries > kRecoveriesReportedOneByOne) {
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
    SummarizeWhenDue(state, now);
  } catch (...) {
    // The record must never cost supervision a cycle.
  }
}

void RecordAgentRunning() {
  try {
    std::lock_guard<std::mutex> lock(RecordLock());
    RecordState& state = State();
    // An idle cycle reads no clock unless a sum waits for its hour.
    if (state.outageRecoveries == 0 && state.leftOut.Empty()) return;
    const Clock::time_point now = platform::MonotonicNow();
    if (state.outageRecoveries != 0) {
      if (RoomForAnEvent(state.returnEvents, now)) {
        Report(kAgentRunningAgain,
               {std::to_string(SecondsBetween(state.lastRecovery, now)),
                std::to_string(state.outageRecoveries)});
        state.returnEvents.push_back(now);
      } else {
        ++state.leftOut.returnsLeftOut;
      }
      state.outageRecoveries = 0;
      state.recoveriesSinceSummary = 0;
      state.lastSummary.reset();
    }
    SummarizeWhenDue(state, now);
  } catch (...) {
  }
}

void FlushRecord() {
  try {
    std::lock_guard<std::mutex> lock(RecordLock());
    RecordState& state = State();
    if (!state.leftOut.Empty()) ReportLeftOut(state, platform::MonotonicNow());
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

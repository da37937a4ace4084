#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "audit/audit.h"
#include "events/events.h"
#include "monitor/monitor.h"
#include "monitor/recovery_progress.h"
#include "netstat/netstat.h"
#include "platform/command.h"
#include "platform/console.h"
#include "platform/process_handle.h"
#include "platform/process_list.h"
#include "platform/text.h"
#include "platform/thread.h"
#include "ports/ports.h"

namespace {

constexpr std::chrono::milliseconds kCyclePause(10000);
constexpr std::chrono::milliseconds kAfterKillPause(1000);
constexpr std::chrono::milliseconds kStillAlivePause(10000);

// The System process: the kernel's own listeners (http.sys, SMB) show their
// ports under it, and no kill can end it.
constexpr std::uint32_t kSystemPid = 4;

// Why a PID of the listing is left alone, beside WhyNotKilled's reasons.
constexpr char kOwnProcess[] = "the watchdog's own process";
constexpr char kSystemProcess[] =
    "PID 4 is the System process: its ports are the kernel's";
constexpr char kCreatedAfterListing[] =
    "created after the netstat listing began: not the process it showed";
constexpr char kEndedBeforeKill[] =
    "ended before its kill command: the PID may be another process's next";
constexpr char kCriticalProcess[] =
    "Windows marks the process critical: ending it would stop Windows";

bool SameImageName(const platform::ProcessEntry& entry,
                   const std::wstring& name) {
  const wchar_t* begin = entry.imageName;
  const wchar_t* end =
      std::find(begin, begin + platform::kImageNameUnits, L'\0');
  return name.compare(0, name.size(), begin,
                      static_cast<std::size_t>(end - begin)) == 0;
}

// A stop asked of the calling thread: the shared flag, or the interruption
// that RequestMonitorStop sends to the thread itself. The flag alone would not
// do: a continue right after a pause clears it for the new thread while the
// old one is still in its cycle, and the old one would then take the agent it
// stopped looking for as missing and kill its ports' holders.
bool StopRequestedHere() {
  return stopRequested || boost::this_thread::interruption_requested();
}

// Walks a fresh snapshot until `matches` accepts an entry. The first entry is
// always compared; a stop request seen after any later step ends the walk as
// if nothing matched, and so does a snapshot that can't be taken or read.
template <typename Matches>
bool FindProcess(Matches matches) {
  const platform::ScopedProcessSnapshot snapshot(
      platform::OpenProcessSnapshot());
  if (!snapshot.IsValid()) return false;
  platform::ProcessEntry entry;
  if (!platform::FirstProcess(snapshot.Get(), &entry)) return false;
  for (;;) {
    if (matches(entry)) return true;
    if (!platform::NextProcess(snapshot.Get(), &entry)) return false;
    if (StopRequestedHere()) return false;
  }
}

bool IsPidRunning(std::uint32_t pid) {
  return FindProcess(
      [pid](const platform::ProcessEntry& entry) { return entry.pid == pid; });
}

// Runs the command synchronously, then echoes it. A failing console is not
// looked at; the command's exit status, stored in `status` before the echo
// (so that a failing echo cannot lose it), only goes into the record.
void RunAndEcho(const std::string& command,
                std::optional<int>* status = nullptr) {
  const int result = platform::RunCommand(command.c_str());
  if (status != nullptr) *status = result;
  platform::WriteStdout("command : " + command + "\n",
                        platform::Encoding::kAnsi);
  std::fflush(stdout);
}

// The PIDs that hold one of the agent's ports now, and for the record the
// watched ports each of them holds.
PortHolders FindPortHolders() { return ListPortHolders(BuildWatchedPorts()); }

// The image names of `pids` as one walk of the process list shows them, in
// UTF-8 from the list's UTF-16; for the record only, so a stop request does
// not cut it short.
std::map<std::uint32_t, std::string> ImageNamesOf(
    const std::vector<std::uint32_t>& pids) {
  std::map<std::uint32_t, std::string> names;
  const platform::ScopedProcessSnapshot snapshot(
      platform::OpenProcessSnapshot());
  platform::ProcessEntry entry;
  if (!snapshot.IsValid() || !platform::FirstProcess(snapshot.Get(), &entry)) {
    return names;
  }
  do {
    if (std::find(pids.begin(), pids.end(), entry.pid) == pids.end()) continue;
    const wchar_t* end = std::find(
        entry.imageName, entry.imageName + platform::kImageNameUnits, L'\0');
    names[entry.pid] = platform::WideToUtf8(
        entry.imageName, static_cast<std::size_t>(end - entry.imageName));
  } while (platform::NextProcess(snapshot.Get(), &entry));
  return names;
}

// Why a PID text that ParseKillablePid refuses is no PID worth a command,
// named precisely: the text is in the record beside its reason.
std::string WhyNotKilled(const std::string& text) {
  if (text == "0") return "PID 0 is no process: a socket without an owner";
  if (text.empty()) return "not a plain decimal PID";
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return "not a plain decimal PID: it holds a character other than the "
             "digits 0 to 9";
    }
  }
  if (text.size() > 10) return "not a plain decimal PID: more than 10 digits";
  if (text.find_first_not_of('0') == std::string::npos) {
    return "PID 0 (written with leading zeros) is no process: a socket "
           "without an owner";
  }
  return "not a plain decimal PID: its value exceeds 32 bits";
}

// A killed process still there: asked of its handle where one is held, else
// of the process list.
bool StillRunning(const KillVerdict& verdict) {
  if (verdict.process.IsValid()) {
    switch (platform::HasProcessEnded(verdict.process.Get())) {
      case platform::ProcessAnswer::kYes:
        return false;
      case platform::ProcessAnswer::kNo:
        return true;
      case platform::ProcessAnswer::kUnknown:
        break;
    }
  }
  return IsPidRunning(verdict.value);
}

void EchoLeftAlone(const KillVerdict& verdict) {
  platform::WriteStdout(
      "not killed : PID " + verdict.pid + " (" + verdict.reason + ")\n",
      platform::Encoding::kAnsi);
  std::fflush(stdout);
}

// Records the audit of what the watchdog trusts, for the agent's location as
// the registry has it: not its ANSI form, in which a character that the code
// page lacks would make the path name nothing, and its objects go unaudited.
void AuditWhatIsTrusted() {
  audit::RecordAudit(audit::AuditTrust(AgentLocation.imagePathText,
                                       AgentLocation.configDirectoryText));
}

// Frees the agent's ports and starts the agent again. The verdicts hold the
// processes to kill open until the recovery ends, however it ends. A
// recovery cut short after a command ran (a stop or pause interrupting one of
// its sleeps, or a failure) is still recorded, with what it killed and what
// did not run, before the interruption or failure goes on up; one whose
// process ends while a command runs is recorded by the thread ending it
// (AwaitMonitorEnd). A stop or pause that arrives before the first command
// (during the audit or the listing) ends it with nothing run or recorded.
void RecoverAgent() {
  AuditWhatIsTrusted();
  if (StopRequestedHere()) return;
  RecoveryProgress progress;
  events::Recovery record;
  bool killRan = false;
  std::optional<int> startStatus;  // set once the start command has run
  KillVerdicts verdicts;
  std::size_t nextVerdict = 0;  // the first verdict not yet acted on
  std::size_t checked = 0;      // killed processes checked for life
  // The record as it reads if the recovery ends here, `command` still running.
  const auto ifEndedNow = [&](const std::string& command) {
    events::Recovery ended = record;
    ended.cutShort = true;
    ended.checksNotRun = record.killed.size() - checked;
    for (std::size_t i = nextVerdict; i < verdicts.size(); ++i) {
      ended.killsNotRun += verdicts[i].kill ? 1 : 0;
    }
    ended.stillRunning = command;
    return ended;
  };
  try {
    PortHolders holders = FindPortHolders();
    verdicts = DecideKills(holders.pids, holders.listingStart);
    if (StopRequestedHere()) return;
    std::vector<std::uint32_t> toKill;
    for (const KillVerdict& verdict : verdicts) {
      if (verdict.kill) toKill.push_back(verdict.value);
    }
    std::map<std::uint32_t, std::string> names;
    if (!toKill.empty()) names = ImageNamesOf(toKill);
    std::vector<const KillVerdict*> killed;
    for (; nextVerdict < verdicts.size();) {
      KillVerdict& verdict = verdicts[nextVerdict++];
      if (verdict.kill && !EndedBeforeKill(&verdict)) {
        // Recorded before it runs: a kill must not go unrecorded because
        // its echo failed.
        record.killed.push_back({verdict.pid, names[verdict.value],
                                 std::move(holders.portsByPid[verdict.pid])});
        killed.push_back(&verdict);
        killRan = true;
        const std::string command = MakeKillCommand(verdict.pid);
        progress.Update(ifEndedNow(command));
        RunAndEcho(command);
        progress.Update(ifEndedNow(""));
        continue;
      }
      record.skipped.push_back({verdict.pid, verdict.reason});
      // A PID that is no process or no plain number is not worth a line.
      if (verdict.value != 0) EchoLeftAlone(verdict);
    }
    if (!killed.empty()) {
      platform::InterruptibleSleep(kAfterKillPause);
      // A process still alive gets one more pause to let go of its ports.
      for (const KillVerdict* verdict : killed) {
        const bool alive = StillRunning(*verdict);
        ++checked;
        if (!alive) continue;
        ++record.stillAlive;
        platform::InterruptibleSleep(kStillAlivePause);
      }
    }
    const std::string startCommand = AgentLocation.imagePath + " -start";
    // Run as the ANSI text it is; recorded in UTF-8, as every insert is.
    record.startCommand =
        platform::AnsiToUtf8(startCommand, platform::CodePage::kThread);
    progress.Update(ifEndedNow(record.startCommand));
    RunAndEcho(startCommand, &startStatus);
    record.startExitCode = *startStatus;
  } catch (...) {
    if (startStatus) {
      record.startExitCode = *startStatus;
      progress.Finish(record);
    } else if (killRan) {
      progress.Finish(ifEndedNow(""));
    }
    // Nothing ran: nothing to record.
    throw;
  }
  progress.Finish(record);
}

// One supervision cycle without its closing pause; false when a stop request
// was seen instead of a missing agent. `audited` tells whether this thread
// has audited what it trusts yet: a recovery always does, first.
bool SuperviseOnce(const std::wstring& imageName, bool* audited) {
  if (IsImageRunning(imageName)) {
    if (!*audited) AuditWhatIsTrusted();
    *audited = true;
    events::RecordAgentRunning();
    return true;
  }
  if (StopRequestedHere()) return false;
  *audited = true;
  RecoverAgent();
  return true;
}

}  // namespace

PortHolders ListPortHolders(const PortSet& ports) {
  CNetstat table;
  PortHolders holders;
  holders.listingStart = platform::SystemTimeNow();
  table.Capture();
  holders.listed = table.TrimToFirstTcp();
  if (holders.listed) table.BuildIndex();
  holders.pids = table.FindPids(ports);
  for (const std::string& port : ports) {
    const auto rows = table.portIndex.find(port);
    if (rows == table.portIndex.end()) continue;
    for (const auto& row : rows->second) {
      std::vector<std::string>& held = holders.portsByPid[row->pid];
      if (held.empty() || held.back() != port) held.push_back(port);
    }
  }
  return holders;
}

PortSet BuildWatchedPorts() {
  PortSet ports = MakeDefaultPorts();
  ServerConfReading reading;
  AddServerConfPorts(ports, AgentLocation.configDirectory, &reading);
  // Made of the ANSI configuration directory: for the record, in UTF-8.
  reading.path =
      platform::AnsiToUtf8(reading.path, platform::CodePage::kThread);
  switch (reading.outcome) {
    case ServerConfOutcome::kNoDirectory:
      break;
    case ServerConfOutcome::kAbsent:
      events::RecordServerConf(reading.path, events::ConfState::kAbsent, "");
      break;
    case ServerConfOutcome::kUsed:
      events::RecordServerConf(reading.path, events::ConfState::kUsable, "");
      break;
    case ServerConfOutcome::kExistenceUnknown:
      events::RecordServerConf(
          reading.path, events::ConfState::kExistenceUnknown,
          "the system could not tell whether it exists (system error " +
              std::to_string(reading.systemError) + ")");
      break;
    case ServerConfOutcome::kUnreadable:
      events::RecordServerConf(reading.path, events::ConfState::kUnreadable,
                               "it cannot be opened for reading");
      break;
    case ServerConfOutcome::kUnparsable:
      events::RecordServerConf(reading.path, events::ConfState::kUnparsable,
                               "it is not valid JSON: " + reading.error +
                                   " (at byte offset " +
                                   std::to_string(reading.errorOffset) + ")");
      break;
    case ServerConfOutcome::kNotObject:
      events::RecordServerConf(reading.path, events::ConfState::kNotObject,
                               "its root is not a JSON object");
      break;
  }
  return ports;
}

bool IsImageRunning(const std::wstring& imageName) {
  return FindProcess([&imageName](const platform::ProcessEntry& entry) {
    return SameImageName(entry, imageName);
  });
}

// A PID worth a command: 1 to 10 ASCII digits whose value fits 32 bits and is
// not 0 (the PID of sockets in TIME_WAIT, not a process). Anything else would
// reach the command processor as text it interprets.
bool ParseKillablePid(const std::string& text, std::uint32_t* pid) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value == 0 || value > UINT32_MAX) return false;
  *pid = static_cast<std::uint32_t>(value);
  return true;
}

std::string MakeKillCommand(const std::string& pid) {
  return "taskkill /F /pid " + pid;
}

namespace {

// Why `verdict`'s PID text must not be killed, or empty for a kill; fills in
// its value and, for a kill, the process to hold.
std::string WhyLeftAlone(KillVerdict* verdict, std::uint32_t ownPid,
                         std::uint64_t listingStart) {
  if (!ParseKillablePid(verdict->pid, &verdict->value)) {
    return WhyNotKilled(verdict->pid);
  }
  if (verdict->value == ownPid) return kOwnProcess;
  if (verdict->value == kSystemPid) return kSystemProcess;
  platform::OpenFailure failure = platform::OpenFailure::kNone;
  platform::ScopedProcessHandle process(
      platform::OpenProcessHandle(verdict->value, &failure));
  if (!process.IsValid()) {
    // A refusal leaves the kill as it would be without the handle.
    return failure == platform::OpenFailure::kNoSuchProcess ? kEndedBeforeKill
                                                            : "";
  }
  // An ended process is told as such, however young it was.
  if (platform::HasProcessEnded(process.Get()) ==
      platform::ProcessAnswer::kYes) {
    return kEndedBeforeKill;
  }
  std::uint64_t created = 0;
  if (platform::ProcessCreationTime(process.Get(), &created) &&
      created > listingStart) {
    return kCreatedAfterListing;
  }
  if (platform::IsProcessCritical(process.Get()) ==
      platform::ProcessAnswer::kYes) {
    return kCriticalProcess;
  }
  verdict->process = std::move(process);
  return "";
}

}  // namespace

KillVerdicts DecideKills(const std::set<std::string>& pids,
                         std::uint64_t listingStart) {
  return DecideKills(pids, listingStart, platform::CurrentProcessId());
}

KillVerdicts DecideKills(const std::set<std::string>& pids,
                         std::uint64_t listingStart,
                         std::uint32_t watchdogPid) {
  KillVerdicts verdicts;
  verdicts.reserve(pids.size());
  for (const std::string& text : pids) {
    verdicts.emplace_back();
    KillVerdict& verdict = verdicts.back();
    verdict.pid = text;
    verdict.reason = WhyLeftAlone(&verdict, watchdogPid, listingStart);
    verdict.kill = verdict.reason.empty();
  }
  return verdicts;
}

bool EndedBeforeKill(KillVerdict* verdict) {
  if (!verdict->kill || !verdict->process.IsValid() ||
      platform::HasProcessEnded(verdict->process.Get()) !=
          platform::ProcessAnswer::kYes) {
    return false;
  }
  // The handle stays held with the verdict: no command runs for it anyway.
  verdict->kill = false;
  verdict->reason = kEndedBeforeKill;
  return true;
}

namespace {

void Supervise() {
  std::wstring imageName;
  bool audited = false;
  for (;;) {
    if (StopRequestedHere()) return;
    try {
      if (imageName.empty()) imageName = kAgentImageName;
      // Audited once a thread, after the service has reported running (the
      // audit reads the security of a dozen objects and may ask a domain
      // controller about an account), and before each recovery.
      if (!SuperviseOnce(imageName, &audited)) return;
    } catch (const boost::thread_interrupted&) {
      throw;
    } catch (...) {
      // Supervision must outlive any one failed cycle (memory exhaustion, in
      // practice); the next cycle starts from scratch.
    }
    platform::InterruptibleSleep(kCyclePause);
  }
}

}  // namespace

// Whichever way supervision ends, the record's held-back sum is written: a
// stop may end the process before the hour that it waits for.
void RunMonitor() {
  try {
    Supervise();
  } catch (...) {
    events::FlushRecord();
    throw;
  }
  events::FlushRecord();
}

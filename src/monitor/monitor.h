// Supervision of the agent: its location, the monitor thread and its cycle.
#ifndef DIDUROZIR_MONITOR_MONITOR_H_
#define DIDUROZIR_MONITOR_MONITOR_H_

#include <atomic>
#include <boost/thread/thread.hpp>
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/process_handle.h"

// Where the agent lives. Written once by LoadAgentLocation before the first
// monitor thread starts; read-only after.
struct AgentLocationRecord {
  // Narrow text in the calling thread's ANSI code page, as the commands and
  // the file name are made of it.
  std::string imagePath;        // the agent service's ImagePath
  std::string configDirectory;  // the folder of the agent's server.conf
  // The same values for the record, UTF-8 straight from the registry's UTF-16,
  // so that characters the code page lacks still reach the Event Log.
  std::string imagePathText;
  std::string configDirectoryText;
};
extern AgentLocationRecord AgentLocation;

// Set to tell the monitor thread to finish; cleared by StartMonitor.
extern std::atomic<bool> stopRequested;
// The monitor thread, empty until the first StartMonitor. Touch it only
// through StartMonitor and RequestMonitorStop, which serialise access.
extern boost::thread monitorThread;

// Reads the agent's ImagePath and configPath from the registry into
// AgentLocation and prints the path. Touches nothing but the registry (and
// records an agent it cannot find): the service reports itself running only
// after it, so a slow share or a huge server.conf must not be read here.
// Leaves the start's event (1000) to the first monitor thread.
void LoadAgentLocation();
// Writes the start's event (1000) with the agent's location and the watched
// ports, reading server.conf for them; only the first call after
// LoadAgentLocation writes it, so a continue does not repeat it.
void ReportStartOnce();

// The agent's process image name, compared case-sensitively.
inline constexpr wchar_t kAgentImageName[] = L"riduvuruz.exe";

// Where the agent lives as the registry tells it, and how each read went; for
// the -check report. The same keys, values and buffer as LoadAgentLocation.
struct AgentLocationReading {
  AgentLocationRecord location;
  std::string serviceKey;  // the agent's service key, for the report
  std::string productKey;  // the product key, for the report
  // The system's code for opening each key: 0 opened, 2 missing, 5 denied.
  std::uint32_t serviceKeyError = 0;
  std::uint32_t productKeyError = 0;
  // The value was read whole (an opened key may lack it, or hold one too long).
  bool imagePathRead = false;
  bool configPathRead = false;
};
// Reads without printing anything or writing any event; AgentLocation is
// left as it is.
AgentLocationReading ReadAgentLocation();

// Starts a monitor thread unless one runs that was not told to stop. Throws
// boost::thread_resource_error when the thread can't be created.
void StartMonitor();
// If a monitor thread exists: sets stopRequested and interrupts the thread,
// without waiting for it.
void RequestMonitorStop();
// For the end of the process, after a stop: waits, `timeoutMs` at most, until
// every monitor thread has ended. A thread told to stop finishes the command
// it runs, then writes its recovery's record and the sum that the record
// holds back. When the time runs out, writes those itself (a recovery whose
// command still runs as cut short, naming that command) and returns false.
bool AwaitMonitorEnd(std::uint32_t timeoutMs);
// The monitor thread's body: the supervision cycle until told to stop. Ends by
// returning or by the boost::thread_interrupted of an interrupted sleep; any
// other failure only cuts the current cycle short.
void RunMonitor();

// The agent's ports as a recovery watches them now: the built-in ones and
// those of server.conf, whose state goes into the record.
std::set<std::string> BuildWatchedPorts();

// The PIDs that hold one of the watched ports now, from one netstat -ano, and
// the watched ports each of them holds, in the order of `ports`.
struct PortHolders {
  std::set<std::string> pids;
  std::map<std::string, std::vector<std::string>> portsByPid;
  std::uint64_t listingStart = 0;  // right before netstat was started
  bool listed = false;             // the listing had its TCP section
};
// What a recovery finds; it runs netstat, nothing else.
PortHolders ListPortHolders(const std::set<std::string>& ports);

// True when a running process has exactly this image name (case-sensitive).
// False when the process list can't be read, or once stopRequested is set or
// the calling thread's interruption was requested.
bool IsImageRunning(const std::wstring& imageName);
// True, with the value in `pid`, when `text` is a PID worth a kill command: 1
// to 10 ASCII digits whose value fits 32 bits and is not 0. Only such texts
// may reach the command processor.
bool ParseKillablePid(const std::string& text, std::uint32_t* pid);
// "taskkill /F /pid " followed by `pid` unchanged; the caller makes sure it is
// a plain decimal PID (ParseKillablePid).
std::string MakeKillCommand(const std::string& pid);

// What a recovery does with one PID text of the netstat -ano listing.
struct KillVerdict {
  std::string pid;          // the text as the listing gave it
  bool kill = false;        // true: its kill command runs
  std::string reason;       // why it is left alone; empty for a kill
  std::uint32_t value = 0;  // the PID, when ParseKillablePid accepts the text
  // The process, opened right after the listing and held for as long as the
  // verdict lives, so that no other process can get its PID meanwhile. Held
  // for kills only, and not even then when the system refused the open.
  platform::ScopedProcessHandle process;
};
// In the order of the PID texts; owns the handles of its verdicts.
using KillVerdicts = std::vector<KillVerdict>;

// Decides, for each PID text of a listing whose netstat command was started
// at `listingStart` (platform::SystemTimeNow() taken right before it), whether
// a recovery may kill that PID. Call it right after the listing has been
// read: it opens each candidate's process then. A text is left alone, with
// `reason` saying why, when it is
//   - no PID worth a command (ParseKillablePid): PID 0, or not a plain
//     decimal PID;
//   - the watchdog's own PID, or PID 4 (System);
//   - a PID without a process (it ended after the listing), or one whose
//     process has ended;
//   - a process created after `listingStart`: not the one the listing saw;
//   - a process that Windows marks critical.
// Where the system cannot answer (it refuses the open, cannot tell the
// creation time, does not implement the critical query) the verdict is a kill,
// as it would be without these checks: they never keep a leftover alive.
// The reason texts are stable (docs/events.md lists them). Keep the verdicts
// until the last kill command and liveness check are done: destroying them
// closes the handles. The recovery and the -check dry run both take their
// decisions from here.
KillVerdicts DecideKills(const std::set<std::string>& pids,
                         std::uint64_t listingStart);
// The same with `watchdogPid` as the watchdog's own process: the -check dry
// run's process is not the service's.
KillVerdicts DecideKills(const std::set<std::string>& pids,
                         std::uint64_t listingStart, std::uint32_t watchdogPid);
// Right before the kill command of a verdict that says kill: true, with the
// verdict turned into a leave-alone, when its held process has ended since
// the decision (a PID without a process can be anyone's next).
bool EndedBeforeKill(KillVerdict* verdict);

#endif  // DIDUROZIR_MONITOR_MONITOR_H_

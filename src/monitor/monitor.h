// Supervision of the agent: its location, the monitor thread and its cycle.
#ifndef DIDUROZIR_MONITOR_MONITOR_H_
#define DIDUROZIR_MONITOR_MONITOR_H_

#include <atomic>
#include <boost/thread/thread.hpp>
#include <cstdint>
#include <set>
#include <string>

// Where the agent lives, narrow text in the ANSI code page. Written once by
// LoadAgentLocation before the first monitor thread starts; read-only after.
struct AgentLocationRecord {
  std::string imagePath;        // the agent service's ImagePath
  std::string configDirectory;  // the folder of the agent's server.conf
};
extern AgentLocationRecord AgentLocation;

// Set to tell the monitor thread to finish; cleared by StartMonitor.
extern std::atomic<bool> stopRequested;
// The monitor thread, empty until the first StartMonitor. Touch it only
// through StartMonitor and RequestMonitorStop, which serialise access.
extern boost::thread monitorThread;

// Reads the agent's ImagePath and configPath from the registry into
// AgentLocation and prints the path.
void LoadAgentLocation();

// Starts a monitor thread unless one runs that was not told to stop. Throws
// boost::thread_resource_error when the thread can't be created.
void StartMonitor();
// If a monitor thread exists: sets stopRequested and interrupts the thread,
// without waiting for it.
void RequestMonitorStop();
// The monitor thread's body: the supervision cycle until told to stop. Ends by
// returning or by the boost::thread_interrupted of an interrupted sleep; any
// other failure only cuts the current cycle short.
void RunMonitor();

// The agent's ports as a recovery watches them now: the built-in ones and
// those of server.conf, whose state goes into the record.
std::set<std::string> BuildWatchedPorts();

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

#endif  // DIDUROZIR_MONITOR_MONITOR_H_

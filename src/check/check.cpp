#include "check/check.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <new>
#include <string>
#include <vector>

#include "audit/audit.h"
#include "monitor/monitor.h"
#include "platform/console.h"
#include "platform/process_handle.h"
#include "platform/process_list.h"
#include "platform/service_control.h"
#include "platform/text.h"
#include "ports/ports.h"

namespace check {
namespace {

// The least the service queries need: no administrator's rights.
constexpr std::uint32_t kManagerConnect = 0x0001;      // SC_MANAGER_CONNECT
constexpr std::uint32_t kServiceQueryStatus = 0x0004;  // SERVICE_QUERY_STATUS
constexpr std::uint32_t kErrorFileNotFound = 2;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorServiceDoesNotExist = 1060;

// One report line, "<what> : <text>", like the service's console lines.
void Line(const std::string& what, const std::string& text,
          platform::Encoding encoding = platform::Encoding::kAnsi) {
  platform::WriteStdout(what + " : " + text + "\n", encoding);
}

std::string Joined(const std::vector<std::string>& texts) {
  std::string joined;
  for (const std::string& text : texts) {
    if (!joined.empty()) joined += ", ";
    joined += text;
  }
  return joined;
}

// Why a key could not be opened, in words; sets kIncomplete unless the key
// simply does not exist.
std::string KeyProblem(const std::string& key, std::uint32_t error,
                       std::uint32_t* exitCode) {
  if (error == kErrorFileNotFound) return "none: " + key + " does not exist";
  *exitCode |= kIncomplete;
  if (error == kErrorAccessDenied) {
    return "cannot tell: this account may not read " + key + " (error 5)";
  }
  return "cannot tell: " + key + " cannot be opened (error " +
         std::to_string(error) + ")";
}

void ReportLocation(const AgentLocationReading& reading,
                    std::uint32_t* exitCode) {
  if (reading.imagePathRead && !reading.location.imagePath.empty()) {
    Line("agent ImagePath", reading.location.imagePath);
  } else if (reading.serviceKeyError != 0) {
    Line("agent ImagePath",
         KeyProblem(reading.serviceKey, reading.serviceKeyError, exitCode));
    if (reading.serviceKeyError == kErrorFileNotFound) {
      *exitCode |= kAgentNotInstalled;
    }
  } else {
    Line("agent ImagePath", "none: " + reading.serviceKey +
                                " has no ImagePath, or one longer than 259 "
                                "characters");
    *exitCode |= kAgentNotInstalled;
  }

  if (reading.configPathRead && !reading.location.configDirectory.empty()) {
    Line("agent configPath", reading.location.configDirectory);
  } else if (reading.productKeyError != 0) {
    Line("agent configPath",
         KeyProblem(reading.productKey, reading.productKeyError, exitCode));
  } else {
    Line("agent configPath", "none: " + reading.productKey +
                                 " has no configPath, or one longer than 259 "
                                 "characters");
  }
}

// The server.conf line, in the words of event 3000 where it is unusable.
void ReportServerConf(const ServerConfReading& reading,
                      std::uint32_t* exitCode) {
  const std::string path = reading.path;
  switch (reading.outcome) {
    case ServerConfOutcome::kNoDirectory:
      Line("server.conf", "not looked for: there is no configPath");
      return;
    case ServerConfOutcome::kAbsent:
      Line("server.conf", "absent: " + path);
      return;
    case ServerConfOutcome::kUsed:
      Line("server.conf", "used: " + path);
      return;
    case ServerConfOutcome::kExistenceUnknown:
      // Only the built-in ports are watched then, as for an unusable file.
      Line("server.conf",
           "unusable: " + path +
               ": the system could not tell whether it exists (system error " +
               std::to_string(reading.systemError) + ")");
      break;
    case ServerConfOutcome::kUnreadable:
      Line("server.conf",
           "unusable: " + path +
               ": it cannot be opened for reading (this account may lack the "
               "right to read it, another program may lock it, or it is no "
               "file)");
      break;
    case ServerConfOutcome::kUnparsable:
      Line("server.conf",
           "unusable: " + path + ": it is not valid JSON: " + reading.error +
               " (at byte offset " + std::to_string(reading.errorOffset) + ")");
      break;
    case ServerConfOutcome::kNotObject:
      Line("server.conf",
           "unusable: " + path + ": its root is not a JSON object");
      break;
  }
  *exitCode |= kServerConfUnusable;
}

void ReportPorts(const ServerConfReading& reading) {
  for (const auto& [port, origin] : DescribePortOrigins(reading)) {
    std::vector<std::string> from;
    if (origin.builtIn) from.push_back("built-in");
    if (origin.listeningPorts) from.push_back(kListeningPortsKey);
    if (origin.sslPort) from.push_back(kSslPortKey);
    Line("watched port", port + " (" + Joined(from) + ")");
  }
}

// The running processes by PID, from one snapshot; false when the process
// list cannot be read.
bool ReadProcesses(std::map<std::uint32_t, std::wstring>* processes) {
  const platform::ScopedProcessSnapshot snapshot(
      platform::OpenProcessSnapshot());
  platform::ProcessEntry entry;
  if (!snapshot.IsValid() || !platform::FirstProcess(snapshot.Get(), &entry)) {
    return false;
  }
  do {
    const wchar_t* end = std::find(
        entry.imageName, entry.imageName + platform::kImageNameUnits, L'\0');
    (*processes)[entry.pid] = std::wstring(
        entry.imageName, static_cast<std::size_t>(end - entry.imageName));
  } while (platform::NextProcess(snapshot.Get(), &entry));
  return true;
}

std::string Narrow(const std::wstring& text) {
  return platform::WideToAnsi(text, platform::CodePage::kThread);
}

void ReportAgent(const AgentLocationReading& location, bool processesRead,
                 const std::map<std::uint32_t, std::wstring>& processes,
                 std::uint32_t* exitCode) {
  // The monitor's own test decides; the snapshot only names the PIDs.
  if (IsImageRunning(kAgentImageName)) {
    std::vector<std::string> pids;
    for (const auto& [pid, name] : processes) {
      if (name == kAgentImageName) pids.push_back(std::to_string(pid));
    }
    Line("agent", pids.empty() ? std::string("running")
                               : "running as PID " + Joined(pids));
    return;
  }
  if (!processesRead) {
    Line("agent", "cannot tell: the process list cannot be read");
    *exitCode |= kIncomplete;
    return;
  }
  Line("agent",
       "not running: no process has the image name " + Narrow(kAgentImageName));
  // Without an ImagePath that is reported already.
  if (location.imagePathRead && !location.location.imagePath.empty()) {
    *exitCode |= kAgentNotRunning;
  }
}

// The watchdog service's process, 0 when it runs in none; the line says which.
// Not judged: the dry run is for a server without the service as well.
std::uint32_t ReportWatchdog(const wchar_t* serviceName) {
  const std::string name = Narrow(serviceName);
  const platform::ScopedScHandle manager(
      platform::OpenServiceManager(kManagerConnect));
  if (!manager.IsValid()) {
    Line("watchdog service",
         "cannot tell: the Service Control Manager refused (error " +
             std::to_string(platform::LastServiceError()) + ")");
    return 0;
  }
  const platform::ScopedScHandle service(platform::OpenNamedService(
      manager.Get(), serviceName, kServiceQueryStatus));
  if (!service.IsValid()) {
    const std::uint32_t error = platform::LastServiceError();
    Line("watchdog service", error == kErrorServiceDoesNotExist
                                 ? name + " is not installed"
                                 : "cannot tell: " + name +
                                       " cannot be opened (error " +
                                       std::to_string(error) + ")");
    return 0;
  }
  const std::uint32_t pid = platform::ServiceProcessId(service.Get());
  Line("watchdog service", pid == 0
                               ? name + " is installed, not running"
                               : name + " runs as PID " + std::to_string(pid));
  return pid;
}

std::string ImageOf(const KillVerdict& verdict,
                    const std::map<std::uint32_t, std::wstring>& processes) {
  const auto process = processes.find(verdict.value);
  if (verdict.value == 0 || process == processes.end()) {
    return "not in the process list";
  }
  return Narrow(process->second);
}

void ReportHolders(const PortHolders& holders, const KillVerdicts& verdicts,
                   const std::map<std::uint32_t, std::wstring>& processes,
                   std::uint32_t* exitCode) {
  if (!holders.listed) {
    Line("holders", "cannot tell: netstat -ano gave no TCP listing");
    *exitCode |= kIncomplete;
    return;
  }
  if (verdicts.empty()) {
    Line("holders", "none: no process holds a watched port");
    return;
  }
  for (const KillVerdict& verdict : verdicts) {
    const auto held = holders.portsByPid.find(verdict.pid);
    if (held == holders.portsByPid.end()) continue;
    const std::string image = ImageOf(verdict, processes);
    for (const std::string& port : held->second) {
      Line("holder", "PID " + verdict.pid + " (" + image + ") port " + port);
    }
  }
  for (const KillVerdict& verdict : verdicts) {
    if (!verdict.kill) {
      Line("would not kill",
           "PID " + verdict.pid + " (" + verdict.reason + ")");
      continue;
    }
    // Only a refused open leaves a kill without its held process.
    Line("would kill",
         "PID " + verdict.pid + " (" + ImageOf(verdict, processes) + ")" +
             (verdict.process.IsValid()
                  ? ""
                  : "; this account may not open the process, so the checks "
                    "that could spare it were not made"));
  }
}

// The audit of the location as the registry has it, as the service's.
void ReportAudit(const AgentLocationRecord& location, std::uint32_t* exitCode) {
  const std::vector<audit::Finding> findings =
      audit::AuditTrust(location.imagePathText, location.configDirectoryText);
  if (findings.empty()) {
    Line("trust audit", "no findings");
    return;
  }
  for (const audit::Finding& finding : findings) {
    Line("finding", audit::FindingText(finding), platform::Encoding::kUtf8);
  }
  *exitCode |= kTrustFindings;
}

void ReportResult(std::uint32_t exitCode) {
  static const struct {
    std::uint32_t bit;
    const char* text;
  } kBits[] = {
      {kAgentNotInstalled, "the agent is not installed"},
      {kServerConfUnusable, "server.conf is unusable"},
      {kTrustFindings, "the trust audit has findings"},
      {kAgentNotRunning, "the agent is not running"},
      {kIncomplete, "something could not be read"},
  };
  std::vector<std::string> reasons;
  for (const auto& bit : kBits) {
    if ((exitCode & bit.bit) != 0) reasons.push_back(bit.text);
  }
  Line("result", std::to_string(exitCode) + " (" +
                     (reasons.empty() ? std::string("nothing is wrong")
                                      : Joined(reasons)) +
                     ")");
}

std::uint32_t Check(const wchar_t* serviceName) {
  std::uint32_t exitCode = 0;
  platform::WriteStdout(
      "Check: [" + Narrow(serviceName) +
          "] a dry run: nothing is killed, started or recorded\n",
      platform::Encoding::kAnsi);

  const AgentLocationReading location = ReadAgentLocation();
  ReportLocation(location, &exitCode);

  PortSet ports = MakeDefaultPorts();
  ServerConfReading reading;
  AddServerConfPorts(ports, location.location.configDirectory, &reading);
  ReportServerConf(reading, &exitCode);
  ReportPorts(reading);

  std::map<std::uint32_t, std::wstring> processes;
  const bool processesRead = ReadProcesses(&processes);
  ReportAgent(location, processesRead, processes, &exitCode);
  std::uint32_t watchdogPid = ReportWatchdog(serviceName);
  if (watchdogPid == 0) watchdogPid = platform::CurrentProcessId();

  // The recovery's own steps: one listing, then at once the decisions.
  const PortHolders holders = ListPortHolders(ports);
  const KillVerdicts verdicts =
      DecideKills(holders.pids, holders.listingStart, watchdogPid);
  // The names as the process list shows them after the listing: a holder
  // younger than the first snapshot is named too.
  processes.clear();
  ReadProcesses(&processes);
  ReportHolders(holders, verdicts, processes, &exitCode);

  ReportAudit(location.location, &exitCode);
  ReportResult(exitCode);
  return exitCode;
}

}  // namespace

std::uint32_t RunCheck(const wchar_t* serviceName) {
  std::uint32_t exitCode = kIncomplete;
  try {
    exitCode = Check(serviceName);
  } catch (...) {
    // Memory exhaustion, in practice: a report cut short is no clean bill.
    try {
      Line("result",
           std::to_string(kIncomplete) + " (the check could not be completed)");
    } catch (...) {
    }
  }
  std::fflush(stdout);
  return exitCode;
}

}  // namespace check

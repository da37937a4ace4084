// Which objects the audit reads, and what counts on each: every file that
// SYSTEM runs or reads, every folder on its path up to the root, and, where
// a part of that path does not exist yet, the nearest folder that does.
#include <algorithm>
#include <cctype>
#include <utility>

#include "audit/trust.h"
#include "platform/file.h"

namespace audit {
namespace {

using platform::SecurityReadResult;

constexpr char kAgentServiceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
constexpr char kAgentProductKey[] = "SOFTWARE\\QUENTAR\\Agent";
constexpr char kOwnServiceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\didurozir";
constexpr char kServerConfName[] = "server.conf";
constexpr char kMessageFileName[] = "didurozir-messages.dll";

std::string KeyDisplay(const std::string& subKey) {
  return "HKEY_LOCAL_MACHINE\\" + subKey;
}

bool EndsWithExe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  return tail == ".exe";
}

// Reads each object once, gathers what counts on it from every path it lies
// on, and judges it once, with all of that.
class Auditor {
 public:
  bool Exists(const std::string& name, bool isKey) {
    return Read(name, isKey).result != SecurityReadResult::kNotFound;
  }

  // The role of `name`, new (and judged in this order) on the first call.
  Role& Plan(const std::string& name, ObjectKind kind) {
    for (Planned& planned : planned_) {
      if (planned.name == name && planned.role.kind == kind) {
        return planned.role;
      }
    }
    planned_.push_back({name, Role{kind, 0, {}}});
    return planned_.back().role;
  }

  void Add(Finding finding) { added_.push_back(std::move(finding)); }

  std::vector<Finding> Judge() {
    std::vector<Finding> findings;
    for (const Planned& planned : planned_) {
      const bool isKey = planned.role.kind == ObjectKind::kRegistryKey;
      const std::string display =
          isKey ? KeyDisplay(planned.name) : planned.name;
      const Reading& reading = Read(planned.name, isKey);
      switch (reading.result) {
        case SecurityReadResult::kRead:
          for (Finding& finding :
               CheckSecurity(display, planned.role, reading.record, judge_)) {
            findings.push_back(std::move(finding));
          }
          break;
        case SecurityReadResult::kNotFound:
          break;
        case SecurityReadResult::kDenied:
          findings.push_back({FindingKind::kUnreadable, display, "", "",
                              UnreadableRemedy(display, planned.role.kind),
                              "access denied"});
          break;
        case SecurityReadResult::kFailed:
          findings.push_back({FindingKind::kUnreadable, display, "", "",
                              UnreadableRemedy(display, planned.role.kind),
                              "system error " + std::to_string(reading.error)});
          break;
      }
    }
    for (Finding& finding : added_) findings.push_back(std::move(finding));
    return findings;
  }

 private:
  struct Reading {
    SecurityReadResult result = SecurityReadResult::kNotFound;
    std::uint32_t error = 0;
    platform::SecurityRecord record;
  };
  struct Planned {
    std::string name;
    Role role;
  };

  const Reading& Read(const std::string& name, bool isKey) {
    std::map<std::string, Reading>& cache = isKey ? keys_ : files_;
    const auto known = cache.find(name);
    if (known != cache.end()) return known->second;
    Reading reading;
    reading.result =
        platform::ReadSecurity(isKey ? platform::SecuredObject::kRegistryKey
                                     : platform::SecuredObject::kFile,
                               name, &reading.record, &reading.error);
    return cache.emplace(name, std::move(reading)).first->second;
  }

  AccountJudge judge_;
  std::map<std::string, Reading> files_;
  std::map<std::string, Reading> keys_;
  std::vector<Planned> planned_;
  std::vector<Finding> added_;
};

void AddMissing(Role& role, MissingPart part) {
  for (const MissingPart& known : role.missing) {
    if (known.path == part.path) return;
  }
  role.missing.push_back(std::move(part));
}

// Plans what counts for `file`, which SYSTEM runs or reads:
// - the file itself: its content, its name and its permissions;
// - its own folder: "add file" too, since a file created there is run or
//   read (a DLL beside an executable; the file itself while it is missing);
// - every folder on the path: whatever replaces or renames it (delete,
//   except on a volume root; delete child on the folder above; its
//   permissions and owner). A new subfolder or file further up replaces
//   nothing, so "add subfolder" and "add file" do not count there;
// - a missing part: the nearest existing folder, by the right that would
//   create the part ("add subfolder" for a folder, "add file" for a file).
void PlanTarget(const std::string& file, Auditor& auditor) {
  std::string child = file;
  bool childExists = auditor.Exists(file, false);
  std::uint32_t createsChild = kWriteData;
  if (childExists) {
    auditor.Plan(file, ObjectKind::kFile).rights |= kTargetRights;
  }
  const std::vector<std::string> folders = FoldersAbove(file);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    const std::string& folder = folders[i];
    if (!auditor.Exists(folder, false)) {
      child = folder;
      createsChild = kAppendData;
      continue;
    }
    Role& role = auditor.Plan(folder, ObjectKind::kFolder);
    role.rights |= kWriteDac | kWriteOwner;
    if (!IsVolumeRoot(folder)) role.rights |= kDelete;
    if (i == 0) role.rights |= kWriteData;
    if (childExists) {
      role.rights |= kDeleteChild;
    } else {
      AddMissing(role, {child, createsChild});
    }
    child = folder;
    childExists = true;
  }
}

void PlanAgentExecutable(const std::string& imagePath, Auditor& auditor) {
  const std::vector<Candidate> candidates = ExecutableCandidates(imagePath);
  if (candidates.empty()) return;
  const std::size_t start = imagePath.find_first_not_of(" \t");
  // The program meant: the first text up to a blank that names an .exe as
  // written. Windows runs the first candidate that exists, so every one
  // before it counts as well: one that exists, or that someone may create,
  // is what runs instead.
  std::size_t pick = candidates.size();
  for (std::size_t i = 0; i < candidates.size() && candidates.size() > 1; ++i) {
    if (EndsWithExe(imagePath.substr(start, candidates[i].end - start))) {
      pick = i;
      break;
    }
  }
  if (pick == candidates.size()) {
    // No .exe among them: the first that exists, else the whole line.
    pick = candidates.size() - 1;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      if (auditor.Exists(candidates[i].file, false)) {
        pick = i;
        break;
      }
    }
  }
  for (std::size_t i = 0; i <= pick; ++i) {
    PlanTarget(candidates[i].file, auditor);
  }
  if (!IsQuoted(imagePath) && pick > 0) {
    const Candidate& program = candidates[pick];
    auditor.Add(
        {FindingKind::kUnquotedPath, KeyDisplay(kAgentServiceKey), "", "",
         UnquotedPathRemedy(imagePath.substr(start, program.end - start),
                            imagePath.substr(program.end)),
         imagePath});
  }
}

}  // namespace

std::vector<Finding> AuditLocations(const std::string& imagePath,
                                    const std::string& configDirectory,
                                    const std::string& watchdogPath) {
  Auditor auditor;
  PlanAgentExecutable(imagePath, auditor);
  if (!configDirectory.empty()) {
    PlanTarget(configDirectory + platform::kPathSeparator + kServerConfName,
               auditor);
  }
  auditor.Plan(kAgentServiceKey, ObjectKind::kRegistryKey).rights |=
      kTargetRights;
  auditor.Plan(kAgentProductKey, ObjectKind::kRegistryKey).rights |=
      kTargetRights;
  if (!watchdogPath.empty()) {
    PlanTarget(watchdogPath, auditor);
    const std::vector<std::string> folders = FoldersAbove(watchdogPath);
    if (!folders.empty()) {
      // Event Viewer loads it from beside the executable, with the
      // separator the executable's path uses.
      const std::string& folder = folders.front();
      const bool endsWithSeparator =
          folder.back() == '\\' || folder.back() == '/';
      PlanTarget(endsWithSeparator
                     ? folder + kMessageFileName
                     : folder + watchdogPath[folder.size()] + kMessageFileName,
                 auditor);
    }
  }
  auditor.Plan(kOwnServiceKey, ObjectKind::kRegistryKey).rights |=
      kTargetRights;
  return auditor.Judge();
}

}  // namespace audit

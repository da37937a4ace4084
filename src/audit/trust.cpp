#include "audit/trust.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <utility>

#include "platform/file.h"

namespace audit {
namespace {

using platform::SecurityReadResult;

// Rights that let an account change what the watchdog runs or reads, by
// object kind. Read, execute and attribute rights are left out: they change
// nothing that matters here.
struct NamedRight {
  std::uint32_t bit;
  const char* name;
};
constexpr std::uint32_t kDelete = 0x00010000;
constexpr std::uint32_t kWriteDac = 0x00040000;
constexpr std::uint32_t kWriteOwner = 0x00080000;
constexpr std::uint32_t kGenericAll = 0x10000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;

constexpr NamedRight kFileRights[] = {
    {0x0002, "write data"},
    {0x0004, "append data"},
    {kDelete, "delete"},
    {kWriteDac, "change permissions"},
    {kWriteOwner, "take ownership"},
    {kGenericWrite, "generic write"},
    {kGenericAll, "generic all"},
};
constexpr NamedRight kFolderRights[] = {
    {0x0002, "add file"},
    {0x0004, "add subfolder"},
    {0x0040, "delete child"},
    {kDelete, "delete"},
    {kWriteDac, "change permissions"},
    {kWriteOwner, "take ownership"},
    {kGenericWrite, "generic write"},
    {kGenericAll, "generic all"},
};
constexpr NamedRight kPathFolderRights[] = {
    {0x0002, "add file"},
    {0x0040, "delete child"},
    {kDelete, "delete"},
    {kWriteDac, "change permissions"},
    {kWriteOwner, "take ownership"},
    {kGenericWrite, "generic write"},
    {kGenericAll, "generic all"},
};
constexpr NamedRight kKeyRights[] = {
    {0x0002, "set value"},
    {0x0004, "create subkey"},
    {kDelete, "delete"},
    {kWriteDac, "change permissions"},
    {kWriteOwner, "take ownership"},
    {kGenericWrite, "generic write"},
    {kGenericAll, "generic all"},
};

// Groups that stand for many people or for services with little privilege:
// never trusted, and never worth a question to the system (which, for a
// group, could only answer from its direct members).
const std::set<std::string>& UntrustedGroups() {
  static const std::set<std::string>* groups = new std::set<std::string>{
      "S-1-1-0",       // Everyone
      "S-1-2-0",       // LOCAL
      "S-1-2-1",       // CONSOLE LOGON
      "S-1-5-1",       // DIALUP
      "S-1-5-2",       // NETWORK
      "S-1-5-4",       // INTERACTIVE
      "S-1-5-6",       // SERVICE
      "S-1-5-7",       // ANONYMOUS LOGON
      "S-1-5-11",      // Authenticated Users
      "S-1-5-13",      // TERMINAL SERVER USER
      "S-1-5-14",      // REMOTE INTERACTIVE LOGON
      "S-1-5-19",      // LOCAL SERVICE
      "S-1-5-20",      // NETWORK SERVICE
      "S-1-5-32-545",  // Users
      "S-1-5-32-546",  // Guests
      "S-1-5-32-547",  // Power Users
      "S-1-5-32-555",  // Remote Desktop Users
      "S-1-15-2-1",    // ALL APPLICATION PACKAGES
  };
  return *groups;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Windows adds ".exe" to a program name whose last part has no extension.
std::string WithExeExtension(std::string name) {
  const std::size_t lastPart = name.find_last_of("\\/");
  const std::size_t dot =
      name.find('.', lastPart == std::string::npos ? 0 : lastPart + 1);
  if (dot == std::string::npos) name += ".exe";
  return name;
}

bool EndsWithExe(const std::string& name) {
  if (name.size() < 4) return false;
  std::string tail = name.substr(name.size() - 4);
  std::transform(tail.begin(), tail.end(), tail.begin(), [](char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  });
  return tail == ".exe";
}

// "\\server\share": the root of a UNC path.
bool IsUncRoot(const std::string& path) {
  if (path.size() < 3 || !IsSeparator(path[0]) || !IsSeparator(path[1])) {
    return false;
  }
  const std::size_t server_end = path.find_first_of("\\/", 2);
  return server_end != std::string::npos &&
         path.find_first_of("\\/", server_end + 1) == std::string::npos;
}

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

std::string KeyDisplay(const std::string& subKey) {
  return "HKEY_LOCAL_MACHINE\\" + subKey;
}

// What to do about each kind of finding, as a command an administrator can
// run (files and folders) or the regedit steps (keys: Windows has no stock
// command that edits a key's permissions).
std::string RemoveRightRemedy(const std::string& display, ObjectKind kind,
                              const std::string& sid, bool inherited) {
  if (kind == ObjectKind::kRegistryKey) {
    return "in regedit, " + display + " > Permissions: leave " + sid +
           " Read only" +
           (inherited ? " (the entry is inherited: Advanced > Disable "
                        "inheritance first, or fix the key above)"
                      : "");
  }
  // Keeps read and execute, which running the agent may need.
  const std::string grant =
      kind == ObjectKind::kFile ? ":(RX)" : ":(OI)(CI)(RX)";
  std::string remedy;
  if (inherited) remedy = "icacls " + Quoted(display) + " /inheritance:d && ";
  return remedy + "icacls " + Quoted(display) + " /remove:g *" + sid +
         " && icacls " + Quoted(display) + " /grant *" + sid + grant;
}

std::string OwnerRemedy(const std::string& display, ObjectKind kind) {
  if (kind == ObjectKind::kRegistryKey) {
    return "in regedit, " + display +
           " > Permissions > Advanced > Owner: Change to Administrators";
  }
  return "icacls " + Quoted(display) + " /setowner *" + kAdministratorsSid;
}

std::string NullDaclRemedy(const std::string& display, ObjectKind kind) {
  if (kind == ObjectKind::kRegistryKey) {
    return "in regedit, " + display +
           " > Permissions: give SYSTEM and Administrators Full Control and "
           "Users Read only";
  }
  const std::string inherit = kind == ObjectKind::kFile ? "" : "(OI)(CI)";
  return "icacls " + Quoted(display) + " /grant:r *" + kSystemSid + ":" +
         inherit + "(F) *" + kAdministratorsSid + ":" + inherit + "(F) *" +
         "S-1-5-32-545:" + inherit + "(RX)";
}

std::string UnreadableRemedy(const std::string& display, ObjectKind kind) {
  if (kind == ObjectKind::kRegistryKey) {
    return "in regedit, as an administrator, " + display +
           " > Permissions: give SYSTEM Full Control";
  }
  return "icacls " + Quoted(display) + " /grant *" + kSystemSid + ":(F)";
}

}  // namespace

bool IsQuoted(const std::string& commandLine) {
  const std::size_t start = commandLine.find_first_not_of(" \t");
  return start != std::string::npos && commandLine[start] == '"';
}

std::vector<Candidate> ExecutableCandidates(const std::string& commandLine) {
  std::vector<Candidate> candidates;
  const std::size_t start = commandLine.find_first_not_of(" \t");
  if (start == std::string::npos) return candidates;
  if (commandLine[start] == '"') {
    const std::size_t close = commandLine.find('"', start + 1);
    const std::size_t end =
        close == std::string::npos ? commandLine.size() : close;
    candidates.push_back(
        {WithExeExtension(commandLine.substr(start + 1, end - start - 1)),
         close == std::string::npos ? end : end + 1});
    return candidates;
  }
  std::size_t last_end = start;
  for (std::size_t i = start + 1; i < commandLine.size(); ++i) {
    if (IsBlank(commandLine[i]) && !IsBlank(commandLine[i - 1])) {
      candidates.push_back(
          {WithExeExtension(commandLine.substr(start, i - start)), i});
      last_end = i;
    }
  }
  std::size_t end = commandLine.size();
  while (end > start && IsBlank(commandLine[end - 1])) --end;
  if (end > last_end || candidates.empty()) {
    candidates.push_back(
        {WithExeExtension(commandLine.substr(start, end - start)), end});
  }
  return candidates;
}

std::vector<std::string> FoldersAbove(const std::string& path) {
  std::vector<std::string> folders;
  std::string current = path;
  for (;;) {
    const std::size_t cut = current.find_last_of("\\/");
    if (cut == std::string::npos) break;
    if (cut == 0) {  // "\folder": the current drive's root
      folders.push_back(current.substr(0, 1));
      break;
    }
    std::string parent = current.substr(0, cut);
    if (parent.size() == 2 && parent[1] == ':') {  // "C:" -> "C:\"
      folders.push_back(parent + current[cut]);
      break;
    }
    if (IsSeparator(parent.back())) break;  // "\\server" of a UNC path
    folders.push_back(parent);
    if (IsUncRoot(parent)) break;
    current = std::move(parent);
  }
  return folders;
}

std::string WriteRights(ObjectKind kind, std::uint32_t mask) {
  const NamedRight* begin = kFileRights;
  const NamedRight* end = std::end(kFileRights);
  if (kind == ObjectKind::kFolder) {
    begin = kFolderRights;
    end = std::end(kFolderRights);
  } else if (kind == ObjectKind::kPathFolder) {
    begin = kPathFolderRights;
    end = std::end(kPathFolderRights);
  } else if (kind == ObjectKind::kRegistryKey) {
    begin = kKeyRights;
    end = std::end(kKeyRights);
  }
  std::string rights;
  for (const NamedRight* right = begin; right != end; ++right) {
    if ((mask & right->bit) == 0) continue;
    if (!rights.empty()) rights += ", ";
    rights += right->name;
  }
  return rights;
}

AccountJudge::Trust AccountJudge::TrustOf(const std::string& sid) {
  const auto known = trust_.find(sid);
  if (known != trust_.end()) return known->second;
  Trust trust = Trust::kUntrusted;
  if (sid == kSystemSid || sid == kAdministratorsSid ||
      sid == kTrustedInstallerSid) {
    trust = Trust::kTrusted;
  } else if (UntrustedGroups().count(sid) == 0) {
    switch (platform::AdministratorsMembership(sid)) {
      case platform::Membership::kMember:
        trust = Trust::kTrusted;
        break;
      case platform::Membership::kNotMember:
        trust = Trust::kUntrusted;
        break;
      case platform::Membership::kUnknown:
        trust = Trust::kUnknown;
        break;
    }
  }
  trust_[sid] = trust;
  return trust;
}

std::string AccountJudge::Describe(const std::string& sid) {
  auto known = names_.find(sid);
  if (known == names_.end()) {
    known = names_.emplace(sid, platform::AccountName(sid)).first;
  }
  return known->second.empty() ? sid : known->second + " (" + sid + ")";
}

std::vector<Finding> CheckSecurity(const std::string& display, ObjectKind kind,
                                   const platform::SecurityRecord& record,
                                   AccountJudge& judge) {
  using Trust = AccountJudge::Trust;
  std::vector<Finding> findings;
  if (!record.hasDacl) {
    findings.push_back({FindingKind::kNullDacl, display, "", "",
                        NullDaclRemedy(display, kind)});
  }
  if (!record.ownerSid.empty()) {
    // The owner may always change the DACL, whatever it says.
    const Trust trust = judge.TrustOf(record.ownerSid);
    if (trust != Trust::kTrusted) {
      findings.push_back(
          {trust == Trust::kUnknown ? FindingKind::kUnknownMembership
                                    : FindingKind::kUntrustedOwner,
           display, judge.Describe(record.ownerSid),
           trust == Trust::kUnknown ? "own it, and so change its permissions"
                                    : "",
           OwnerRemedy(display, kind)});
    }
  }
  if (!record.hasDacl) return findings;

  // Write-type rights granted to each account that is not trusted, in the
  // order of its first entry.
  struct Grant {
    std::string sid;
    std::uint32_t mask = 0;
    bool inherited = false;
    Trust trust = Trust::kUntrusted;
  };
  std::vector<Grant> grants;
  const std::vector<platform::AccessEntry>& dacl = record.dacl;
  for (std::size_t i = 0; i < dacl.size(); ++i) {
    const platform::AccessEntry& entry = dacl[i];
    // An inherit-only entry is a template for objects created inside; it
    // grants nothing on this one.
    if (entry.type != platform::AceType::kAllow ||
        (entry.flags & platform::kInheritOnlyAce) != 0) {
      continue;
    }
    // CREATOR OWNER and CREATOR GROUP are replaced by the creator when the
    // entry is inherited; where they stand they match no one's token.
    if (entry.sid == kCreatorOwnerSid || entry.sid == kCreatorGroupSid) {
      continue;
    }
    std::uint32_t mask = entry.mask;
    // The access check stops at the first entry that denies a right to a
    // SID of the caller: only a deny for the same SID placed before this
    // entry surely takes that right away. Denies for other SIDs (a user's
    // group, Everyone) are not counted, so a finding may be one that a
    // deny in fact blocks: the audit errs towards warning.
    for (std::size_t j = 0; j < i; ++j) {
      if (dacl[j].type == platform::AceType::kDeny &&
          (dacl[j].flags & platform::kInheritOnlyAce) == 0 &&
          dacl[j].sid == entry.sid) {
        mask &= ~dacl[j].mask;
      }
    }
    if (WriteRights(kind, mask).empty()) continue;
    // OWNER RIGHTS stands for whoever owns the object.
    const std::string sid =
        entry.sid == kOwnerRightsSid ? record.ownerSid : entry.sid;
    if (sid.empty()) continue;
    const Trust trust = judge.TrustOf(sid);
    if (trust == Trust::kTrusted) continue;
    auto grant = std::find_if(grants.begin(), grants.end(),
                              [&sid](const Grant& g) { return g.sid == sid; });
    if (grant == grants.end()) {
      grants.push_back(Grant{sid, 0, false, trust});
      grant = grants.end() - 1;
    }
    grant->mask |= mask;
    grant->inherited =
        grant->inherited || (entry.flags & platform::kInheritedAce) != 0;
  }
  for (const Grant& grant : grants) {
    findings.push_back(
        {grant.trust == Trust::kUnknown ? FindingKind::kUnknownMembership
                                        : FindingKind::kWritable,
         display, judge.Describe(grant.sid), WriteRights(kind, grant.mask),
         RemoveRightRemedy(display, kind, grant.sid, grant.inherited)});
  }
  return findings;
}

namespace {

constexpr char kAgentServiceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\riduvuruz";
constexpr char kAgentProductKey[] = "SOFTWARE\\QUENTAR\\Agent";
constexpr char kOwnServiceKey[] =
    "SYSTEM\\CurrentControlSet\\Services\\didurozir";
constexpr char kServerConfName[] = "server.conf";
constexpr char kMessageFileName[] = "didurozir-messages.dll";

// Reads and checks objects, each once, collecting the findings.
class Auditor {
 public:
  // Checks the file, folder or key `name`; the result of reading it.
  SecurityReadResult Check(const std::string& name, ObjectKind kind) {
    const bool isKey = kind == ObjectKind::kRegistryKey;
    const std::string display = isKey ? KeyDisplay(name) : name;
    const auto known = checked_.find(display);
    if (known != checked_.end()) return known->second;
    platform::SecurityRecord record;
    std::uint32_t error = 0;
    const SecurityReadResult result =
        platform::ReadSecurity(isKey ? platform::SecuredObject::kRegistryKey
                                     : platform::SecuredObject::kFile,
                               name, &record, &error);
    checked_[display] = result;
    switch (result) {
      case SecurityReadResult::kRead:
        for (Finding& finding : CheckSecurity(display, kind, record, judge_)) {
          findings_.push_back(std::move(finding));
        }
        break;
      case SecurityReadResult::kNotFound:
        break;
      case SecurityReadResult::kDenied:
        findings_.push_back({FindingKind::kUnreadable, display, "", "",
                             UnreadableRemedy(display, kind), "access denied"});
        break;
      case SecurityReadResult::kFailed:
        findings_.push_back({FindingKind::kUnreadable, display, "", "",
                             UnreadableRemedy(display, kind),
                             "system error " + std::to_string(error)});
        break;
    }
    return result;
  }

  void Add(Finding finding) { findings_.push_back(std::move(finding)); }
  std::vector<Finding> Take() { return std::move(findings_); }

 private:
  AccountJudge judge_;
  std::map<std::string, SecurityReadResult> checked_;
  std::vector<Finding> findings_;
};

void AuditAgentExecutable(const std::string& imagePath, Auditor& auditor) {
  const std::vector<Candidate> candidates = ExecutableCandidates(imagePath);
  if (candidates.empty()) return;
  const std::size_t start = imagePath.find_first_not_of(" \t");
  // The program meant: the first text up to a blank that names an .exe as
  // written. Windows runs the first candidate that exists, so every one
  // before it is checked too: one that exists is what runs instead.
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
      if (auditor.Check(candidates[i].file, ObjectKind::kFile) !=
          SecurityReadResult::kNotFound) {
        pick = i;
        break;
      }
    }
  } else {
    for (std::size_t i = 0; i <= pick; ++i) {
      auditor.Check(candidates[i].file, ObjectKind::kFile);
    }
  }
  if (!IsQuoted(imagePath) && pick > 0) {
    // Quoting the program name is the whole remedy; its arguments stay.
    const Candidate& program = candidates[pick];
    const std::string name = imagePath.substr(start, program.end - start);
    const std::string rest = imagePath.substr(program.end);
    auditor.Add(
        {FindingKind::kUnquotedPath, KeyDisplay(kAgentServiceKey), "", "",
         "sc config riduvuruz binPath= \"\\\"" + name + "\\\"" + rest + "\"",
         imagePath});
  }
  const std::vector<std::string> folders = FoldersAbove(candidates[pick].file);
  for (std::size_t i = 0; i < folders.size(); ++i) {
    auditor.Check(folders[i],
                  i == 0 ? ObjectKind::kFolder : ObjectKind::kPathFolder);
  }
}

}  // namespace

std::vector<Finding> AuditLocations(const std::string& imagePath,
                                    const std::string& configDirectory,
                                    const std::string& watchdogPath) {
  Auditor auditor;
  AuditAgentExecutable(imagePath, auditor);
  if (!configDirectory.empty()) {
    // A folder that anyone may write lets anyone create or replace the file.
    auditor.Check(configDirectory, ObjectKind::kFolder);
    auditor.Check(configDirectory + platform::kPathSeparator + kServerConfName,
                  ObjectKind::kFile);
  }
  auditor.Check(kAgentServiceKey, ObjectKind::kRegistryKey);
  auditor.Check(kAgentProductKey, ObjectKind::kRegistryKey);
  if (!watchdogPath.empty()) {
    auditor.Check(watchdogPath, ObjectKind::kFile);
    const std::vector<std::string> folders = FoldersAbove(watchdogPath);
    if (!folders.empty()) {
      auditor.Check(folders.front(), ObjectKind::kFolder);
      // Beside the executable, with the separator its path uses.
      const std::string& folder = folders.front();
      const std::string dll =
          IsSeparator(folder.back())
              ? folder + kMessageFileName
              : folder + watchdogPath[folder.size()] + kMessageFileName;
      auditor.Check(dll, ObjectKind::kFile);
    }
  }
  auditor.Check(kOwnServiceKey, ObjectKind::kRegistryKey);
  return auditor.Take();
}

}  // namespace audit

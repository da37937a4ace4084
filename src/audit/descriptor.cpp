// What one security descriptor lets untrusted accounts do with an object:
// the access check's own rules, walked entry by entry for each account.
#include <algorithm>
#include <iterator>
#include <set>
#include <utility>

#include "audit/trust.h"

namespace audit {
namespace {

constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kGenericAll = 0x10000000;

// What each generic right stands for (FILE_GENERIC_*, KEY_READ, ...), as
// Windows maps them before it compares an entry with a request.
struct GenericMapping {
  std::uint32_t read, write, execute, all;
};
constexpr GenericMapping kFileMapping = {0x00120089, 0x00120116, 0x001200a0,
                                         0x001f01ff};
constexpr GenericMapping kKeyMapping = {0x00020019, 0x00020006, 0x00020019,
                                        0x000f003f};

std::uint32_t MapGeneric(ObjectKind kind, std::uint32_t mask) {
  const GenericMapping& mapping =
      kind == ObjectKind::kRegistryKey ? kKeyMapping : kFileMapping;
  std::uint32_t mapped =
      mask & ~(kGenericRead | kGenericWrite | kGenericExecute | kGenericAll);
  if ((mask & kGenericRead) != 0) mapped |= mapping.read;
  if ((mask & kGenericWrite) != 0) mapped |= mapping.write;
  if ((mask & kGenericExecute) != 0) mapped |= mapping.execute;
  if ((mask & kGenericAll) != 0) mapped |= mapping.all;
  return mapped;
}

struct NamedRight {
  std::uint32_t bit;
  const char* name;
};
constexpr NamedRight kFileRights[] = {
    {kWriteData, "write data"},
    {kAppendData, "append data"},
    {kDelete, "delete"},
    {kWriteDac, "change permissions"},
    {kWriteOwner, "take ownership"},
};
constexpr NamedRight kFolderRights[] = {
    {kWriteData, "add file"},          {kAppendData, "add subfolder"},
    {kDeleteChild, "delete child"},    {kDelete, "delete"},
    {kWriteDac, "change permissions"}, {kWriteOwner, "take ownership"},
};
constexpr NamedRight kKeyRights[] = {
    {kWriteData, "set value"},
    {kAppendData, "create subkey"},
    {kDelete, "delete"},
    {kWriteDac, "change permissions"},
    {kWriteOwner, "take ownership"},
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

// An entry the access check applies to the object itself: an allow or deny
// that is not a template for objects created inside (inherit-only), nor an
// object entry for one type of a directory object's parts.
bool AppliesHere(const platform::AccessEntry& entry) {
  return entry.type != platform::AceType::kOther &&
         (entry.flags & platform::kInheritOnlyAce) == 0 &&
         !entry.objectTypePresent;
}

// An OWNER RIGHTS entry that applies here replaces the owner's implicit
// right to read and change the permissions with its own rights, which the
// entry walk counts for the owner.
bool OwnerKeepsImplicitRights(const platform::SecurityRecord& record) {
  return std::none_of(record.dacl.begin(), record.dacl.end(),
                      [](const platform::AccessEntry& entry) {
                        return AppliesHere(entry) &&
                               entry.sid == kOwnerRightsSid;
                      });
}

std::uint32_t CreatingRights(const Role& role) {
  std::uint32_t rights = 0;
  for (const MissingPart& part : role.missing) rights |= part.right;
  return rights;
}

}  // namespace

std::string RightNames(ObjectKind kind, std::uint32_t mask) {
  const NamedRight* begin = kFileRights;
  const NamedRight* end = std::end(kFileRights);
  if (kind == ObjectKind::kFolder) {
    begin = kFolderRights;
    end = std::end(kFolderRights);
  } else if (kind == ObjectKind::kRegistryKey) {
    begin = kKeyRights;
    end = std::end(kKeyRights);
  }
  mask = MapGeneric(kind, mask);
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

std::vector<Finding> CheckSecurity(const std::string& display, const Role& role,
                                   const platform::SecurityRecord& record,
                                   AccountJudge& judge) {
  using Trust = AccountJudge::Trust;
  std::vector<Finding> findings;
  if (!record.hasDacl) {
    findings.push_back({FindingKind::kNullDacl, display, "", "",
                        NullDaclRemedy(display, role.kind)});
  }
  if (!record.ownerSid.empty() && OwnerKeepsImplicitRights(record)) {
    const Trust trust = judge.TrustOf(record.ownerSid);
    if (trust != Trust::kTrusted) {
      findings.push_back(
          {trust == Trust::kUnknown ? FindingKind::kUnknownMembership
                                    : FindingKind::kUntrustedOwner,
           display, judge.Describe(record.ownerSid),
           trust == Trust::kUnknown ? "own it, and so change its permissions"
                                    : "",
           OwnerRemedy(display, role.kind)});
    }
  }
  if (!record.hasDacl) return findings;

  const std::uint32_t counted = role.rights | CreatingRights(role);
  // The rights that count, granted to each account that is not trusted, in
  // the order of its first entry.
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
    if (entry.type != platform::AceType::kAllow || !AppliesHere(entry)) {
      continue;
    }
    // CREATOR OWNER and CREATOR GROUP are replaced by the creator when the
    // entry is inherited; where they stand they match no one's token.
    if (entry.sid == kCreatorOwnerSid || entry.sid == kCreatorGroupSid) {
      continue;
    }
    std::uint32_t mask = MapGeneric(role.kind, entry.mask) & counted;
    // The access check stops at the first entry that denies a right to a
    // SID of the caller: only a deny for the same SID placed before this
    // entry surely takes that right away. Denies for other SIDs (a user's
    // group, Everyone) are not counted, so a finding may be one that a
    // deny in fact blocks: the audit errs towards warning.
    for (std::size_t j = 0; j < i; ++j) {
      if (dacl[j].type == platform::AceType::kDeny && AppliesHere(dacl[j]) &&
          dacl[j].sid == entry.sid) {
        mask &= ~MapGeneric(role.kind, dacl[j].mask);
      }
    }
    if (mask == 0) continue;
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
    Finding finding{grant.trust == Trust::kUnknown
                        ? FindingKind::kUnknownMembership
                        : FindingKind::kWritable,
                    display, judge.Describe(grant.sid),
                    RightNames(role.kind, grant.mask), ""};
    bool createsFoldersOnly = (grant.mask & role.rights) == 0;
    for (const MissingPart& part : role.missing) {
      if ((grant.mask & part.right) == 0) continue;
      finding.creatable.push_back(part.path);
      createsFoldersOnly = createsFoldersOnly && part.right == kAppendData;
    }
    // Where the account may only create missing folders, taking that right
    // away would take a Windows default away; creating the folders as an
    // administrator closes the way instead.
    finding.remedy =
        createsFoldersOnly
            ? CreateFoldersRemedy(finding.creatable)
            : RemoveRightRemedy(display, role.kind, grant.sid, grant.inherited);
    findings.push_back(std::move(finding));
  }
  return findings;
}

}  // namespace audit

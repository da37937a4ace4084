// Who may do what to a file, a folder or a registry key: the owner and the
// access control entries of its DACL, as plain data, and what the system
// knows of an account.
#ifndef DIDUROZIR_PLATFORM_SECURITY_H_
#define DIDUROZIR_PLATFORM_SECURITY_H_

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// ACE header flags, by their system values.
constexpr std::uint8_t kObjectInheritAce = 0x01;
constexpr std::uint8_t kContainerInheritAce = 0x02;
constexpr std::uint8_t kNoPropagateInheritAce = 0x04;
constexpr std::uint8_t kInheritOnlyAce = 0x08;
constexpr std::uint8_t kInheritedAce = 0x10;

enum class AceType {
  kAllow,  // ACCESS_ALLOWED_ACE_TYPE and its callback and object forms
  kDeny,   // ACCESS_DENIED_ACE_TYPE and its callback and object forms
  kOther,  // audit, label and other entries: no grant
};

struct AccessEntry {
  AceType type = AceType::kOther;
  std::uint8_t flags = 0;  // k*Ace above
  std::uint32_t mask = 0;  // the access mask as stored, generic bits included
  std::string sid;         // "S-1-5-32-545"
  // An object entry that names an object type: it governs that type (a
  // directory object's property, say), not a whole file or key. An object
  // entry without one governs the whole object, as a plain entry does.
  bool objectTypePresent = false;
};

struct SecurityRecord {
  std::string ownerSid;  // empty when the descriptor has no owner
  bool hasDacl = false;  // false: a null DACL, which grants everyone anything
  std::vector<AccessEntry> dacl;  // in the order stored
};

enum class SecuredObject {
  kFile,         // a file or a folder, by its path
  kRegistryKey,  // a key of HKEY_LOCAL_MACHINE, by its subkey path
};

enum class SecurityReadResult {
  kRead,
  kNotFound,  // no such file, folder or key (or path)
  kDenied,    // the caller may not read its security
  kFailed,    // any other failure; `error` says which
};

// Reads the owner and the DACL of `name` (UTF-8). `error` receives the
// system's error code on anything but kRead.
SecurityReadResult ReadSecurity(SecuredObject kind, const std::string& name,
                                SecurityRecord* record, std::uint32_t* error);

// The account's name as "DOMAIN\name" (or the name alone when the system
// gives no domain), UTF-8; empty when the SID has no known name.
std::string AccountName(const std::string& sid);

enum class Membership { kMember, kNotMember, kUnknown };
// Whether the account is a member, directly or through other groups, of the
// local Administrators group; kUnknown when the system can't tell (a domain
// account while the domain can't be reached).
Membership AdministratorsMembership(const std::string& sid);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_SECURITY_H_

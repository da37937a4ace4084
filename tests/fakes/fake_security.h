// The emulated security of files, folders, registry keys and accounts behind
// platform/security.h, with descriptors written as SDDL strings.
#ifndef DIDUROZIR_TESTS_FAKES_FAKE_SECURITY_H_
#define DIDUROZIR_TESTS_FAKES_FAKE_SECURITY_H_

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/security.h"

namespace fakes {

// Parses the owner ("O:") and DACL ("D:") parts of an SDDL string into the
// plain model: SID aliases (SY, BA, BU, WD, AU, CO, OW, ...) become SIDs,
// rights aliases (FA, FW, KA, GW, WD, ...) and 0x masks become masks, "D:NO_
// ACCESS_CONTROL" a null DACL; "OA" and "OD" entries are the object forms of
// "A" and "D", with their object type when the fourth field holds one.
// Throws std::invalid_argument on anything else.
platform::SecurityRecord ParseSddl(const std::string& sddl);

struct SecurityFake {
  // Objects by name as the audit asks for them: paths, and key paths under
  // HKEY_LOCAL_MACHINE. Missing ones read as not found.
  std::map<std::string, platform::SecurityRecord> files;
  std::map<std::string, platform::SecurityRecord> keys;
  // Objects whose security can't be read, with the system's error code (5
  // reads as access denied).
  std::map<std::string, std::uint32_t> unreadable;
  std::map<std::string, std::string> names;  // SID -> account name
  std::map<std::string, platform::Membership> membership;  // default kNot..
  std::vector<std::string> membershipAsked;  // every SID asked about
  // Runs at every ReadSecurity, on the caller's thread, before it answers.
  std::function<void()> onRead;

  void Reset() { *this = SecurityFake(); }
};

SecurityFake& Security();

}  // namespace fakes

#endif  // DIDUROZIR_TESTS_FAKES_FAKE_SECURITY_H_

// The native build has no Windows security: every object reads as missing,
// so that nothing is reported about it.
#include "platform/security.h"

namespace platform {

SecurityReadResult ReadSecurity(SecuredObject, const std::string&,
                                SecurityRecord*, std::uint32_t* error) {
  if (error != nullptr) *error = 0;
  return SecurityReadResult::kNotFound;
}

std::string AccountName(const std::string&) { return std::string(); }

Membership AdministratorsMembership(const std::string&) {
  return Membership::kUnknown;
}

}  // namespace platform

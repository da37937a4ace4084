// How AdministratorsMembership reads the group's direct members, as
// NetLocalGroupGetMembers lists them: Wine lists none, so only its tests,
// handing in a list as Windows gives it, can show a test the wrong way round.
#ifndef DIDUROZIR_PLATFORM_SECURITY_WIN_H_
#define DIDUROZIR_PLATFORM_SECURITY_WIN_H_

#include <windows.h>
// After windows.h:
#include <lm.h>

namespace platform {

// Whether `sid` is one of the `count` members in `members`.
bool IsListedMember(PSID sid, const LOCALGROUP_MEMBERS_INFO_0* members,
                    DWORD count);

}  // namespace platform

#endif  // DIDUROZIR_PLATFORM_SECURITY_WIN_H_

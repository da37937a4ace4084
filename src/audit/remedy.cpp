// What to do about each kind of finding: a command an administrator can run
// for files, folders and the service's ImagePath, the regedit steps for keys.
#include "audit/trust.h"

namespace audit {
namespace {

std::string Quoted(const std::string& path) { return "\"" + path + "\""; }

// SYSTEM and Administrators in full, Users read and execute: what a folder
// of Program Files passes down, without the rest.
std::string ProtectedGrants(const std::string& inherit) {
  return std::string("*") + kSystemSid + ":" + inherit + "(F) *" +
         kAdministratorsSid + ":" + inherit + "(F) *" + kUsersSid + ":" +
         inherit + "(RX)";
}

}  // namespace

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

std::string CreateFoldersRemedy(const std::vector<std::string>& folders) {
  std::string remedy;
  for (const std::string& folder : folders) {
    if (!remedy.empty()) remedy += " && ";
    remedy += "mkdir " + Quoted(folder) + " && icacls " + Quoted(folder) +
              " /inheritance:r /grant:r " + ProtectedGrants("(OI)(CI)");
  }
  return remedy;
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
  return "icacls " + Quoted(display) + " /grant:r " +
         ProtectedGrants(kind == ObjectKind::kFile ? "" : "(OI)(CI)");
}

std::string UnreadableRemedy(const std::string& display, ObjectKind kind) {
  if (kind == ObjectKind::kRegistryKey) {
    return "in regedit, as an administrator, " + display +
           " > Permissions: give SYSTEM Full Control";
  }
  return "icacls " + Quoted(display) + " /grant *" + kSystemSid + ":(F)";
}

std::string UnquotedPathRemedy(const std::string& program,
                               const std::string& arguments) {
  // The value is one argument of sc's: quotes in the arguments (a quoted
  // path among them) must reach the registry as quotes, not end it early.
  return "sc config riduvuruz binPath= " +
         QuotedArgument("\"" + program + "\"" + arguments);
}

}  // namespace audit

// The parts of the audit that decide, apart from where their data come from:
// which file names a command line may run, which folders lie above a path,
// and what one security descriptor lets untrusted accounts do.
#ifndef DIDUROZIR_AUDIT_TRUST_H_
#define DIDUROZIR_AUDIT_TRUST_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "audit/audit.h"
#include "platform/security.h"

namespace audit {

// Well-known SIDs the audit decides about itself.
constexpr char kSystemSid[] = "S-1-5-18";
constexpr char kAdministratorsSid[] = "S-1-5-32-544";
constexpr char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr char kCreatorOwnerSid[] = "S-1-3-0";
constexpr char kCreatorGroupSid[] = "S-1-3-1";
constexpr char kOwnerRightsSid[] = "S-1-3-4";

// One file name that Windows may run for a command line, and where in the
// command line (after leading blanks) the text it came from ends.
struct Candidate {
  std::string file;
  std::size_t end = 0;
};
// The file names CreateProcess tries for `commandLine`, in its order: for a
// quoted program name the quoted text alone; unquoted, the text up to each
// blank and then the whole line. ".exe" is added to a name whose last part
// has no extension, as Windows does. Empty for an empty line.
std::vector<Candidate> ExecutableCandidates(const std::string& commandLine);
// True when the line's program name is quoted.
bool IsQuoted(const std::string& commandLine);

// The folders that hold `path`, from its own folder up to the root ("C:\",
// "\\server\share"), nearest first.
std::vector<std::string> FoldersAbove(const std::string& path);

enum class ObjectKind {
  kFile,
  kFolder,
  // A folder further up the path to a trusted file: what is on the path
  // already exists, so a new subfolder in it replaces nothing. (Windows gives
  // Authenticated Users that right on C:\ itself.)
  kPathFolder,
  kRegistryKey,
};

// The write-type rights of `mask` on an object of `kind`, named and joined by
// ", "; empty when it grants none of them.
std::string WriteRights(ObjectKind kind, std::uint32_t mask);

// Decides which accounts are trusted, asking the system about each account
// once.
class AccountJudge {
 public:
  enum class Trust { kTrusted, kUntrusted, kUnknown };
  Trust TrustOf(const std::string& sid);
  // "NAME (SID)", or the SID alone when it has no name.
  std::string Describe(const std::string& sid);

 private:
  std::map<std::string, Trust> trust_;
  std::map<std::string, std::string> names_;
};

// What `record`, the security of `object` (shown as `display`), lets
// untrusted accounts do: a null DACL, an untrusted owner, and one finding for
// each account that an allow entry gives a write-type right.
std::vector<Finding> CheckSecurity(const std::string& display, ObjectKind kind,
                                   const platform::SecurityRecord& record,
                                   AccountJudge& judge);

// The whole audit for an agent whose ImagePath is `imagePath`, whose
// server.conf lies in `configDirectory`, and a watchdog whose executable is
// `watchdogPath` (all UTF-8, any of them may be empty).
std::vector<Finding> AuditLocations(const std::string& imagePath,
                                    const std::string& configDirectory,
                                    const std::string& watchdogPath);

}  // namespace audit

#endif  // DIDUROZIR_AUDIT_TRUST_H_

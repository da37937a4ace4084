// The parts of the audit that decide, apart from where their data come from:
// which file names a command line may run, which folders lie above a path,
// which rights count on each object, and what one security descriptor lets
// untrusted accounts do with them.
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
constexpr char kUsersSid[] = "S-1-5-32-545";
constexpr char kTrustedInstallerSid[] =
    "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
constexpr char kCreatorOwnerSid[] = "S-1-3-0";
constexpr char kCreatorGroupSid[] = "S-1-3-1";
constexpr char kOwnerRightsSid[] = "S-1-3-4";

// Access rights by their system values. A bit names another right on each
// kind of object: kWriteData is a file's "write data", a folder's "add file"
// and a key's "set value"; kAppendData "append data", "add subfolder" and
// "create subkey".
constexpr std::uint32_t kWriteData = 0x00000002;
constexpr std::uint32_t kAppendData = 0x00000004;
constexpr std::uint32_t kDeleteChild = 0x00000040;  // folders only
constexpr std::uint32_t kDelete = 0x00010000;
constexpr std::uint32_t kWriteDac = 0x00040000;
constexpr std::uint32_t kWriteOwner = 0x00080000;
// What counts on a file that SYSTEM runs or reads, and on a key it reads:
// its content, its name (deleted or renamed, another takes its place) and
// its permissions.
constexpr std::uint32_t kTargetRights =
    kWriteData | kAppendData | kDelete | kWriteDac | kWriteOwner;

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
// `text` as one argument of a command line that the C runtime splits (sc.exe
// does): quoted, with its quotes and the backslashes before them escaped.
std::string QuotedArgument(const std::string& text);

// The folders that hold `path`, from its own folder up to the root ("C:\",
// "\\server\share"), nearest first. Doubled separators name no folder.
std::vector<std::string> FoldersAbove(const std::string& path);
// True for the root of a volume or share ("C:\", "\", "\\server\share"),
// which cannot be deleted or renamed.
bool IsVolumeRoot(const std::string& folder);

enum class ObjectKind { kFile, kFolder, kRegistryKey };

// A part of a path that does not exist yet, and the right on its nearest
// existing folder that creates it: kWriteData ("add file") for a file,
// kAppendData ("add subfolder") for a folder.
struct MissingPart {
  std::string path;
  std::uint32_t right = 0;
};

// What an untrusted account could do with one object to change what SYSTEM
// runs or reads: the rights that count where it stands, and the missing
// parts below it whose creating right counts as well.
struct Role {
  ObjectKind kind = ObjectKind::kFile;
  std::uint32_t rights = 0;
  std::vector<MissingPart> missing;
};

// The rights of `mask` that count on an object of `kind`, named and joined
// by ", " in a fixed order; generic rights as the specific rights they
// stand for. Empty when none counts.
std::string RightNames(ObjectKind kind, std::uint32_t mask);

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

// What `record`, the security of `object` (shown as `display`) in `role`,
// lets untrusted accounts do: a null DACL, an untrusted owner who keeps the
// owner's implicit right to change the permissions, and one finding for each
// account that allow entries give a right that counts in the role.
std::vector<Finding> CheckSecurity(const std::string& display, const Role& role,
                                   const platform::SecurityRecord& record,
                                   AccountJudge& judge);

// What to do about a finding, as a command an administrator can run (files
// and folders) or the regedit steps (keys: Windows has no stock command that
// edits a key's permissions).
std::string RemoveRightRemedy(const std::string& display, ObjectKind kind,
                              const std::string& sid, bool inherited);
// Creates missing folders as an administrator, protected from what the
// folder above would pass down: the remedy where the only right that counts
// is the one to create them, which Windows itself grants (Authenticated
// Users on C:\, Users on ProgramData) and must keep.
std::string CreateFoldersRemedy(const std::vector<std::string>& folders);
std::string OwnerRemedy(const std::string& display, ObjectKind kind);
std::string NullDaclRemedy(const std::string& display, ObjectKind kind);
std::string UnreadableRemedy(const std::string& display, ObjectKind kind);
// Quotes the agent's program name in its ImagePath; its arguments stay.
std::string UnquotedPathRemedy(const std::string& program,
                               const std::string& arguments);

// The whole audit for an agent whose ImagePath is `imagePath`, whose
// server.conf lies in `configDirectory`, and a watchdog whose executable is
// `watchdogPath` (all UTF-8, any of them may be empty).
std::vector<Finding> AuditLocations(const std::string& imagePath,
                                    const std::string& configDirectory,
                                    const std::string& watchdogPath);

}  // namespace audit

#endif  // DIDUROZIR_AUDIT_TRUST_H_

// The audit of what the watchdog trusts. The watchdog runs as LocalSystem and
// runs the agent's ImagePath, kills whatever holds the ports its server.conf
// names and has Event Viewer load its message DLL: whoever may write any of
// those can make SYSTEM run their program. The audit names each such object
// that an account outside the trusted set may change, and what to do about it.
// It only warns: nothing it finds changes what the watchdog does.
#ifndef DIDUROZIR_AUDIT_AUDIT_H_
#define DIDUROZIR_AUDIT_AUDIT_H_

#include <string>
#include <vector>

namespace audit {

enum class FindingKind {
  kWritable,           // an untrusted account may write/replace/change it
  kNullDacl,           // no DACL: everyone may do anything
  kUntrustedOwner,     // owned by an account outside the trusted set
  kUnquotedPath,       // ImagePath unquoted with a space (CWE-428)
  kUnknownMembership,  // an account whose group membership can't be determined
  kUnreadable,         // its security could not be read (e.g. access denied)
};

struct Finding {
  FindingKind kind;
  std::string object;   // the file, folder or registry key, UTF-8
  std::string account;  // "NAME (SID)", the SID alone when it has no name,
                        // empty when no account is involved
  std::string right;    // what the account may do ("write data", "delete",
                        // ...), empty when not about a right
  std::string remedy;   // what to do: an icacls / reg / sc command
  // More that the text tells: the unquoted ImagePath, why the security could
  // not be read.
  std::string detail = std::string();
  // Parts of a path that SYSTEM runs or reads which do not exist yet, and
  // which the account's right lets it create.
  std::vector<std::string> creatable = std::vector<std::string>();
};

// Audits everything the watchdog trusts as things stand now, for an agent
// whose ImagePath and configuration folder are these (UTF-8, as the registry
// has them; either may be empty). Never throws.
std::vector<Finding> AuditTrust(const std::string& imagePath,
                                const std::string& configDirectory);

// One line describing the finding, for the console and the event.
std::string FindingText(const Finding& finding);

// Records findings in the Event Log: one Error event when the set is new or
// changed, one Information event when it has cleared; nothing when unchanged.
void RecordAudit(const std::vector<Finding>& findings);

// Forgets the findings last recorded: for tests.
void ResetAuditRecord();

}  // namespace audit

#endif  // DIDUROZIR_AUDIT_AUDIT_H_

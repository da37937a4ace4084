#include "audit/audit.h"

#include <algorithm>
#include <mutex>

#include "audit/trust.h"
#include "events/events.h"
#include "platform/system.h"
#include "platform/text.h"

namespace audit {
namespace {

// An event insert may hold 32K characters; the findings beyond this many
// bytes are counted instead of listed.
constexpr std::size_t kInsertBytes = 30000;

struct AuditRecordState {
  bool standing = false;           // the last event was a findings event
  std::vector<std::string> texts;  // its findings' texts, sorted
};

std::mutex& AuditRecordLock() {
  static std::mutex* mutex = new std::mutex;  // outlives any monitor thread
  return *mutex;
}
AuditRecordState& State() {
  static AuditRecordState* state = new AuditRecordState;
  return *state;
}

std::string FindingsInsert(const std::vector<std::string>& texts) {
  std::string insert;
  std::size_t listed = 0;
  for (const std::string& text : texts) {
    if (listed > 0 && insert.size() + text.size() > kInsertBytes) break;
    if (listed > 0) insert += "\r\n";
    insert += text;
    ++listed;
  }
  if (listed < texts.size()) {
    insert += "\r\n(and " + std::to_string(texts.size() - listed) + " more)";
  }
  return insert;
}

// What the account's right may create, named: the path SYSTEM would then
// run or read is of its making.
std::string CreatableText(const Finding& finding) {
  if (finding.creatable.empty()) return std::string();
  std::string paths;
  for (const std::string& path : finding.creatable) {
    if (!paths.empty()) paths += " and ";
    paths += path;
  }
  return "; " + paths +
         (finding.creatable.size() == 1
              ? " does not exist, and it may create it"
              : " do not exist, and it may create them");
}

}  // namespace

std::vector<Finding> AuditTrust(const std::string& imagePath,
                                const std::string& configDirectory) {
  try {
    return AuditLocations(imagePath, configDirectory,
                          platform::WideToUtf8(platform::ModuleFileName()));
  } catch (...) {
    // Out of memory, in practice. An empty list would read as "all clear".
    try {
      return {{FindingKind::kUnreadable, "(the audit)", "", "", "",
               "the audit failed before its end"}};
    } catch (...) {
      return {};
    }
  }
}

std::string FindingText(const Finding& finding) {
  std::string text;
  switch (finding.kind) {
    case FindingKind::kWritable:
      text = finding.object + ": " + finding.account + " may " + finding.right +
             ", and is not a trusted account" + CreatableText(finding) + ".";
      break;
    case FindingKind::kNullDacl:
      text = finding.object + " has no DACL: anyone may change it.";
      break;
    case FindingKind::kUntrustedOwner:
      text = finding.object + " is owned by " + finding.account +
             ", which is not a trusted account and may change its "
             "permissions.";
      break;
    case FindingKind::kUnquotedPath: {
      const std::vector<Candidate> candidates =
          ExecutableCandidates(finding.detail);
      text = finding.object + ": ImagePath " + finding.detail +
             " is not quoted and has a space in the program's path, so "
             "Windows tries " +
             (candidates.empty() ? std::string("a shorter path")
                                 : candidates.front().file) +
             " first (CWE-428).";
      break;
    }
    case FindingKind::kUnknownMembership:
      text = finding.object + ": " + finding.account + " may " + finding.right +
             ", and whether it is a member of Administrators cannot be "
             "determined" +
             CreatableText(finding) + ".";
      break;
    case FindingKind::kUnreadable:
      text = finding.object + ": its permissions could not be read (" +
             finding.detail + ").";
      break;
  }
  if (!finding.remedy.empty()) text += " Remedy: " + finding.remedy;
  return text;
}

void RecordAudit(const std::vector<Finding>& findings) {
  try {
    std::vector<std::string> texts;
    for (const Finding& finding : findings) {
      texts.push_back(FindingText(finding));
    }
    std::vector<std::string> sorted = texts;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());

    std::lock_guard<std::mutex> lock(AuditRecordLock());
    AuditRecordState& state = State();
    if (sorted.empty()) {
      if (state.standing) events::Report(events::kAuditCleared, {});
      state.standing = false;
      state.texts.clear();
      return;
    }
    if (state.standing && state.texts == sorted) return;
    events::Report(events::kAuditFindings,
                   {std::to_string(findings.size()), FindingsInsert(texts)});
    state.standing = true;
    state.texts = std::move(sorted);
  } catch (...) {
    // The record must never cost supervision a cycle.
  }
}

void ResetAuditRecord() {
  std::lock_guard<std::mutex> lock(AuditRecordLock());
  State() = AuditRecordState();
}

}  // namespace audit

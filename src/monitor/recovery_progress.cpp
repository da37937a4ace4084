#include "monitor/recovery_progress.h"

#include <mutex>

namespace {

// The records are written under this lock, so that the process cannot end
// between a monitor thread's claim on its record and the write.
std::mutex& ProgressLock() {
  static std::mutex* mutex = new std::mutex;  // outlives any monitor thread
  return *mutex;
}

}  // namespace

// Allocated once and never freed: a detached monitor thread may still hold an
// entry while the process ends.
std::list<RecoveryProgress::Entry>& RecoveryProgress::Entries() {
  static auto* entries = new std::list<Entry>;
  return *entries;
}

RecoveryProgress::RecoveryProgress() {
  std::lock_guard<std::mutex> lock(ProgressLock());
  entry_ = Entries().emplace(Entries().end());
}

RecoveryProgress::~RecoveryProgress() {
  std::lock_guard<std::mutex> lock(ProgressLock());
  Entries().erase(entry_);
}

void RecoveryProgress::Update(const events::Recovery& ifEndedNow) {
  std::lock_guard<std::mutex> lock(ProgressLock());
  entry_->ifEndedNow = ifEndedNow;
  entry_->ifEndedNow.cutShort = true;
  entry_->recordable = true;
}

void RecoveryProgress::Finish(const events::Recovery& record) {
  std::lock_guard<std::mutex> lock(ProgressLock());
  if (entry_->written) return;
  entry_->written = true;
  events::RecordRecovery(record);
}

void WriteUnfinishedRecoveries() {
  std::lock_guard<std::mutex> lock(ProgressLock());
  for (RecoveryProgress::Entry& entry : RecoveryProgress::Entries()) {
    if (!entry.recordable || entry.written) continue;
    entry.written = true;
    events::RecordRecovery(entry.ifEndedNow);
  }
}

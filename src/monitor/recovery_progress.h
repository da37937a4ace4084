// The recoveries that monitor threads are in the middle of, as each one's
// record would read were the process to end now: when a stop ends the process
// while a recovery's command still runs, the thread ending the process writes
// that record, so that no kill goes unrecorded. Internal to the monitor.
#ifndef DIDUROZIR_MONITOR_RECOVERY_PROGRESS_H_
#define DIDUROZIR_MONITOR_RECOVERY_PROGRESS_H_

#include <list>

#include "events/events.h"

// One recovery, from its first command to its record. Held by the monitor
// thread that runs the recovery; its record is written once, by that thread
// or by WriteUnfinishedRecoveries, whichever comes first.
class RecoveryProgress {
 public:
  RecoveryProgress();
  ~RecoveryProgress();
  RecoveryProgress(const RecoveryProgress&) = delete;
  RecoveryProgress& operator=(const RecoveryProgress&) = delete;

  // The record as it would read if the process ended now: cut short, with
  // `stillRunning` naming the command that runs (empty between commands).
  void Update(const events::Recovery& ifEndedNow);
  // Writes the recovery's record, unless the process's end wrote it already.
  void Finish(const events::Recovery& record);

 private:
  struct Entry {
    events::Recovery ifEndedNow;
    bool recordable = false;  // a command has run or runs
    bool written = false;
  };
  static std::list<Entry>& Entries();
  friend void WriteUnfinishedRecoveries();

  std::list<Entry>::iterator entry_;  // this recovery's, in Entries()
};

// Writes, as they stand, the records of the recoveries that have run a command
// and not written their record; each is written once. For the thread that
// ends the process while monitor threads are still inside a command.
void WriteUnfinishedRecoveries();

#endif  // DIDUROZIR_MONITOR_RECOVERY_PROGRESS_H_

#include "fakes/fake_process_list.h"

#include <algorithm>
#include <mutex>

#include "platform/process_list.h"

namespace fakes {

std::mutex& ProcessTableLock() {
  static std::mutex mutex;
  return mutex;
}

ProcessListFake& ProcessList() {
  static ProcessListFake fake;
  return fake;
}

}  // namespace fakes

namespace platform {

// The processes as they were when the snapshot was taken.
struct ProcessSnapshot {
  std::vector<fakes::FakeProcess> processes;
  std::size_t next = 0;
};

namespace {

bool Step(ProcessSnapshot* snapshot, bool fail, ProcessEntry* entry) {
  std::function<void()> hook;
  {
    std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
    if (fail || snapshot->next >= snapshot->processes.size()) return false;
    const fakes::FakeProcess& process = snapshot->processes[snapshot->next++];
    const std::size_t length =
        std::min(process.imageName.size(), kImageNameUnits - 1);
    std::copy_n(process.imageName.data(), length, entry->imageName);
    entry->imageName[length] = L'\0';
    entry->pid = process.pid;
    ++fakes::ProcessList().steps;
    hook = fakes::ProcessList().onStep;
  }
  if (hook) hook();
  return true;
}

}  // namespace

ProcessSnapshot* OpenProcessSnapshot() {
  std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
  fakes::ProcessListFake& fake = fakes::ProcessList();
  if (fake.failSnapshot) return nullptr;
  ++fake.opened;
  return new ProcessSnapshot{fake.processes, 0};
}

bool FirstProcess(ProcessSnapshot* snapshot, ProcessEntry* entry) {
  bool fail;
  {
    std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
    fail = fakes::ProcessList().failFirst;
    snapshot->next = 0;
  }
  return Step(snapshot, fail, entry);
}

bool NextProcess(ProcessSnapshot* snapshot, ProcessEntry* entry) {
  bool fail;
  {
    std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
    fail = fakes::ProcessList().failNext;
  }
  return Step(snapshot, fail, entry);
}

void CloseProcessSnapshot(ProcessSnapshot* snapshot) {
  {
    std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
    ++fakes::ProcessList().closed;
  }
  delete snapshot;
}

}  // namespace platform

#include "fakes/fake_process_handle.h"

#include <algorithm>
#include <mutex>

#include "fakes/fake_process_list.h"

namespace fakes {
namespace {

// Under ProcessTableLock().
bool InProcessTable(std::uint32_t pid) {
  const auto& processes = ProcessList().processes;
  return std::any_of(processes.begin(), processes.end(),
                     [pid](const FakeProcess& p) { return p.pid == pid; });
}

// Under ProcessTableLock().
FakeProcessFacts FactsOf(std::uint32_t pid) {
  const auto& facts = ProcessHandles().facts;
  const auto found = facts.find(pid);
  return found == facts.end() ? FakeProcessFacts() : found->second;
}

}  // namespace

ProcessHandleFake& ProcessHandles() {
  static ProcessHandleFake fake;
  return fake;
}

}  // namespace fakes

namespace platform {

struct ProcessHandle {
  std::uint32_t pid;
};

ProcessHandle* OpenProcessHandle(std::uint32_t pid, OpenFailure* failure) {
  std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
  if (!fakes::InProcessTable(pid)) {
    *failure = OpenFailure::kNoSuchProcess;
    return nullptr;
  }
  if (fakes::FactsOf(pid).refuseOpen) {
    *failure = OpenFailure::kRefused;
    return nullptr;
  }
  *failure = OpenFailure::kNone;
  ++fakes::ProcessHandles().opened;
  return new ProcessHandle{pid};
}

void CloseProcessHandle(ProcessHandle* process) {
  {
    std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
    ++fakes::ProcessHandles().closed;
  }
  delete process;
}

bool ProcessCreationTime(ProcessHandle* process, std::uint64_t* time) {
  std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
  const fakes::FakeProcessFacts facts = fakes::FactsOf(process->pid);
  if (facts.creationTimeFails) return false;
  *time = facts.creationTime;
  return true;
}

ProcessAnswer HasProcessEnded(ProcessHandle* process) {
  std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
  const fakes::FakeProcessFacts facts = fakes::FactsOf(process->pid);
  if (facts.waitFails) return ProcessAnswer::kUnknown;
  return !facts.ended && fakes::InProcessTable(process->pid)
             ? ProcessAnswer::kNo
             : ProcessAnswer::kYes;
}

ProcessAnswer IsProcessCritical(ProcessHandle* process) {
  std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
  return fakes::FactsOf(process->pid).critical;
}

std::uint32_t CurrentProcessId() {
  std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
  return fakes::ProcessHandles().ownPid;
}

std::uint64_t SystemTimeNow() {
  std::lock_guard<std::mutex> lock(fakes::ProcessTableLock());
  return fakes::ProcessHandles().now;
}

}  // namespace platform

namespace fakes {

platform::ProcessHandle* OpenFakeProcess(std::uint32_t pid) {
  std::lock_guard<std::mutex> lock(ProcessTableLock());
  ++ProcessHandles().opened;
  return new platform::ProcessHandle{pid};
}

std::uint32_t FakeProcessPid(const platform::ProcessHandle* process) {
  return process->pid;
}

}  // namespace fakes

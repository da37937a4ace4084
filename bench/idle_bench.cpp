// The idle cycle: one test for the agent's process over a snapshot of 500
// processes, the agent last, so the whole snapshot is walked.
#include <benchmark/benchmark.h>

#include <string>

#include "counting_allocator.h"
#include "fakes/fake_process_list.h"
#include "monitor/monitor.h"
#include "platform/process_list.h"

namespace {

constexpr int kProcesses = 500;
const wchar_t kAgentImage[] = L"riduvuruz.exe";

void FillProcessList() {
  static const wchar_t* const kImages[] = {
      L"System",       L"Registry",          L"smss.exe",
      L"csrss.exe",    L"wininit.exe",       L"services.exe",
      L"lsass.exe",    L"svchost.exe",       L"svchost.exe",
      L"svchost.exe",  L"svchost.exe",       L"fontdrvhost.exe",
      L"dwm.exe",      L"spoolsv.exe",       L"MsMpEng.exe",
      L"explorer.exe", L"RuntimeBroker.exe", L"SearchIndexer.exe",
      L"conhost.exe",  L"sqlservr.exe",      L"w3wp.exe",
      L"WmiPrvSE.exe", L"taskhostw.exe",     L"sihost.exe",
      L"ctfmon.exe",   L"dllhost.exe",       L"chrome.exe",
      L"msedge.exe",   L"OneDrive.exe",      L"Teams.exe"};
  fakes::ProcessListFake& fake = fakes::ProcessList();
  fake.Reset();
  for (int i = 0; i < kProcesses - 1; ++i) {
    fake.processes.push_back({kImages[i % (sizeof kImages / sizeof kImages[0])],
                              static_cast<std::uint32_t>(4 * (i + 1))});
  }
  fake.processes.push_back({kAgentImage, 7732});
}

void BM_IdleCycleProcessTest(benchmark::State& state) {
  FillProcessList();
  stopRequested = false;
  const std::wstring imageName = kAgentImage;  // made once, as RunMonitor does
  bool running = false;
  for (auto _ : state) {
    running = IsImageRunning(imageName);
    benchmark::DoNotOptimize(running);
  }
  if (!running) state.SkipWithError("agent not found");

  // What taking and releasing the (emulated) snapshot costs on its own.
  bench::ResetHeapFigures();
  {
    const platform::ScopedProcessSnapshot snapshot(
        platform::OpenProcessSnapshot());
  }
  const bench::HeapFigures snapshot = bench::ReadHeapFigures();

  constexpr int kCycles = 100;
  bench::ResetHeapFigures();
  for (int i = 0; i < kCycles; ++i)
    benchmark::DoNotOptimize(IsImageRunning(imageName));
  const bench::HeapFigures cycles = bench::ReadHeapFigures();
  const double perCycle = static_cast<double>(cycles.allocations) / kCycles;
  state.counters["processes"] = kProcesses;
  state.counters["allocs_per_cycle"] = perCycle;
  state.counters["snapshot_allocs"] = static_cast<double>(snapshot.allocations);
  state.counters["allocs_beyond_snapshot"] =
      perCycle - static_cast<double>(snapshot.allocations);
  state.counters["heap_growth_per_cycle_bytes"] =
      static_cast<double>(cycles.liveBytes) / kCycles;
  fakes::ProcessList().Reset();
}
BENCHMARK(BM_IdleCycleProcessTest)->Unit(benchmark::kMicrosecond);

}  // namespace

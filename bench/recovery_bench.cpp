// The recovery's data path: the port set, then the socket table from a
// listing, cut, indexed and queried as the supervision cycle does; and a
// lower bound that reads the same bytes once.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "counting_allocator.h"
#include "listing.h"
#include "netstat/netstat.h"
#include "ports/ports.h"

namespace {

// A configuration folder holding a typical server.conf, removed at exit.
class ConfFolder {
 public:
  ConfFolder() {
    char pattern[] = "/tmp/didurozir-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp");
    folder_ = pattern;
    file_ = folder_ + "/" + kServerConfName;
    std::FILE* file = std::fopen(file_.c_str(), "wb");
    if (file == nullptr) throw std::runtime_error("server.conf");
    std::fputs(bench::kTypicalServerConf, file);
    std::fclose(file);
  }
  ~ConfFolder() {
    std::remove(file_.c_str());
    rmdir(folder_.c_str());
  }
  const std::string& Path() const { return folder_; }

 private:
  std::string folder_;
  std::string file_;
};

const ConfFolder& Conf() {
  static const ConfFolder folder;
  return folder;
}

const PortSet& WatchedPorts() {
  static const PortSet ports = [] {
    PortSet set = MakeDefaultPorts();
    AddServerConfPorts(set, Conf().Path());
    if (set.size() != 10 + bench::kServerConfPortCount) {
      throw std::logic_error("server.conf ports not read");
    }
    return set;
  }();
  return ports;
}

const bench::Listing& ListingOf(std::size_t rows) {
  static std::map<std::size_t, bench::Listing> listings;
  auto slot = listings.find(rows);
  if (slot == listings.end()) {
    slot = listings.emplace(rows, bench::MakeListing(rows)).first;
  }
  return slot->second;
}

// What the cycle does with the captured text: the recovery's data path.
PidSet RunDataPath(CNetstat& table, const PortSet& ports) {
  if (table.TrimToFirstTcp()) table.BuildIndex();
  return table.FindPids(ports);
}

void BM_RecoveryDataPath(benchmark::State& state) {
  const bench::Listing& listing =
      ListingOf(static_cast<std::size_t>(state.range(0)));
  const PortSet& ports = WatchedPorts();
  std::size_t pidCount = 0;
  double releaseSeconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::optional<CNetstat> table(std::in_place);
    table->text = listing.text;  // what Capture would have appended
    state.ResumeTiming();
    const PidSet pids = RunDataPath(*table, ports);
    pidCount = pids.size();
    benchmark::DoNotOptimize(pidCount);
    // The cycle's end releases the table; that is timed on its own.
    state.PauseTiming();
    const auto releaseStart = std::chrono::steady_clock::now();
    table.reset();
    releaseSeconds += std::chrono::duration<double>(
                          std::chrono::steady_clock::now() - releaseStart)
                          .count();
    state.ResumeTiming();
  }
  state.counters["release_us"] = benchmark::Counter(
      releaseSeconds * 1e6, benchmark::Counter::kAvgIterations);
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * listing.text.size()));

  // One more run, untimed, for the heap: the peak counts the table's own
  // copy of the listing, the allocations start after that copy.
  bench::ResetHeapFigures();
  std::uint64_t allocations = 0;
  {
    CNetstat table;
    table.text = listing.text;
    const std::uint64_t before = bench::ReadHeapFigures().allocations;
    const PidSet pids = RunDataPath(table, ports);
    allocations = bench::ReadHeapFigures().allocations - before;
    if (pids != listing.watchedPids) {
      state.SkipWithError("FindPids missed or added a PID");
    }
  }
  const bench::HeapFigures heap = bench::ReadHeapFigures();
  const auto listingBytes = static_cast<double>(listing.text.size());
  state.counters["rows"] = static_cast<double>(listing.rows);
  state.counters["watched_rows"] = static_cast<double>(listing.watchedRows);
  state.counters["pids"] = static_cast<double>(pidCount);
  state.counters["listing_bytes"] = listingBytes;
  state.counters["allocs"] = static_cast<double>(allocations);
  state.counters["allocs_per_row"] =
      static_cast<double>(allocations) / static_cast<double>(listing.rows);
  state.counters["peak_heap_bytes"] = static_cast<double>(heap.peakBytes);
  state.counters["peak_heap_per_listing_byte"] =
      static_cast<double>(heap.peakBytes) / listingBytes;
  state.counters["heap_left_bytes"] = static_cast<double>(heap.liveBytes);
}
BENCHMARK(BM_RecoveryDataPath)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);

// The least any parse of these rows must do: one pass over the bytes that
// finds each line with its first colon, last colon and last space, and
// allocates nothing.
void BM_LowerBoundScan(benchmark::State& state) {
  const bench::Listing& listing =
      ListingOf(static_cast<std::size_t>(state.range(0)));
  const char* const begin = listing.text.data();
  const std::size_t size = listing.text.size();
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  for (auto _ : state) {
    std::size_t digest = 0;
    std::size_t firstColon = kNone;
    std::size_t lastColon = kNone;
    std::size_t lastSpace = kNone;
    for (std::size_t i = 0; i < size; ++i) {
      const char c = begin[i];
      if (c == ':') {
        if (firstColon == kNone) firstColon = i;
        lastColon = i;
      } else if (c == ' ') {
        lastSpace = i;
      } else if (c == '\n') {
        digest += firstColon ^ lastColon ^ lastSpace;
        firstColon = lastColon = lastSpace = kNone;
      }
    }
    benchmark::DoNotOptimize(digest);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
  state.counters["rows"] = static_cast<double>(listing.rows);
}
BENCHMARK(BM_LowerBoundScan)
    ->Arg(1000)
    ->Arg(10000)
    ->Arg(100000)
    ->Unit(benchmark::kMicrosecond);

// The watched port set as each recovery builds it, server.conf read from disk.
void BM_WatchedPortSet(benchmark::State& state) {
  const std::string& folder = Conf().Path();
  std::size_t count = 0;
  for (auto _ : state) {
    PortSet ports = MakeDefaultPorts();
    AddServerConfPorts(ports, folder);
    count = ports.size();
    benchmark::DoNotOptimize(count);
  }
  bench::ResetHeapFigures();
  {
    PortSet ports = MakeDefaultPorts();
    AddServerConfPorts(ports, folder);
  }
  const bench::HeapFigures heap = bench::ReadHeapFigures();
  state.counters["ports"] = static_cast<double>(count);
  // RapidJSON's own blocks come from malloc and are not in these figures.
  state.counters["allocs"] = static_cast<double>(heap.allocations);
  state.counters["peak_heap_bytes"] = static_cast<double>(heap.peakBytes);
}
BENCHMARK(BM_WatchedPortSet)->Unit(benchmark::kMicrosecond);

}  // namespace

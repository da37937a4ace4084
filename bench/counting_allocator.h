// Heap accounting for the benchmarks: the bench program replaces the global
// operator new and delete, and these figures follow every allocation made
// through them (not those of malloc called directly, as RapidJSON does).
#ifndef DIDUROZIR_BENCH_COUNTING_ALLOCATOR_H_
#define DIDUROZIR_BENCH_COUNTING_ALLOCATOR_H_

#include <cstddef>
#include <cstdint>

namespace bench {

struct HeapFigures {
  std::uint64_t allocations = 0;  // calls of operator new since the reset
  std::uint64_t frees = 0;        // calls of operator delete since the reset
  std::int64_t liveBytes = 0;     // bytes held now, above the reset
  std::int64_t peakBytes = 0;     // the most held at once, above the reset
};

// Starts counting afresh: the bytes held now become the zero of liveBytes
// and peakBytes.
void ResetHeapFigures();
HeapFigures ReadHeapFigures();

}  // namespace bench

#endif  // DIDUROZIR_BENCH_COUNTING_ALLOCATOR_H_

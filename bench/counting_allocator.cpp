#include "counting_allocator.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace bench {
namespace {

// The benchmarks run on one thread. Relaxed loads and stores (no locked
// read-modify-write) keep the counting cheap enough not to swamp the timings
// of an allocation-heavy path, and they are still well-defined should another
// thread allocate; such a thread's counts could be lost, never corrupt memory.
std::atomic<std::uint64_t> allocations{0};
std::atomic<std::uint64_t> frees{0};
std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};
std::atomic<std::int64_t> zeroBytes{0};

void Add(std::atomic<std::int64_t>& counter, std::int64_t delta) {
  counter.store(counter.load(std::memory_order_relaxed) + delta,
                std::memory_order_relaxed);
}

// Bytes are counted as the allocator's usable size, the same on the way in
// and out, which is what the block really takes from the heap (less malloc's
// own header).
void CountNew(void* memory) {
  allocations.store(allocations.load(std::memory_order_relaxed) + 1,
                    std::memory_order_relaxed);
  Add(liveBytes, static_cast<std::int64_t>(malloc_usable_size(memory)));
  const std::int64_t live = liveBytes.load(std::memory_order_relaxed);
  if (live > peakBytes.load(std::memory_order_relaxed)) {
    peakBytes.store(live, std::memory_order_relaxed);
  }
}

void CountDelete(void* memory) {
  frees.store(frees.load(std::memory_order_relaxed) + 1,
              std::memory_order_relaxed);
  Add(liveBytes, -static_cast<std::int64_t>(malloc_usable_size(memory)));
}

void* Allocate(std::size_t size) {
  void* memory = std::malloc(size == 0 ? 1 : size);
  if (memory == nullptr) throw std::bad_alloc();
  CountNew(memory);
  return memory;
}

void* AllocateAligned(std::size_t size, std::align_val_t alignment) {
  const auto align = static_cast<std::size_t>(alignment);
  // aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + align - 1) / align * align;
  void* memory = std::aligned_alloc(align, rounded == 0 ? align : rounded);
  if (memory == nullptr) throw std::bad_alloc();
  CountNew(memory);
  return memory;
}

void Release(void* memory) noexcept {
  if (memory == nullptr) return;
  CountDelete(memory);
  std::free(memory);
}

}  // namespace

void ResetHeapFigures() {
  allocations.store(0, std::memory_order_relaxed);
  frees.store(0, std::memory_order_relaxed);
  zeroBytes.store(liveBytes.load(std::memory_order_relaxed),
                  std::memory_order_relaxed);
  peakBytes.store(liveBytes.load(std::memory_order_relaxed),
                  std::memory_order_relaxed);
}

HeapFigures ReadHeapFigures() {
  const std::int64_t zero = zeroBytes.load(std::memory_order_relaxed);
  HeapFigures figures;
  figures.allocations = allocations.load(std::memory_order_relaxed);
  figures.frees = frees.load(std::memory_order_relaxed);
  figures.liveBytes = liveBytes.load(std::memory_order_relaxed) - zero;
  figures.peakBytes = peakBytes.load(std::memory_order_relaxed) - zero;
  return figures;
}

}  // namespace bench

void* operator new(std::size_t size) { return bench::Allocate(size); }
void* operator new[](std::size_t size) { return bench::Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return bench::Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return bench::Allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new(std::size_t size, std::align_val_t alignment) {
  return bench::AllocateAligned(size, alignment);
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return bench::AllocateAligned(size, alignment);
}

void operator delete(void* memory) noexcept { bench::Release(memory); }
void operator delete[](void* memory) noexcept { bench::Release(memory); }
void operator delete(void* memory, std::size_t) noexcept {
  bench::Release(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  bench::Release(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
  bench::Release(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  bench::Release(memory);
}
void operator delete(void* memory, std::align_val_t) noexcept {
  bench::Release(memory);
}
void operator delete[](void* memory, std::align_val_t) noexcept {
  bench::Release(memory);
}
void operator delete(void* memory, std::size_t, std::align_val_t) noexcept {
  bench::Release(memory);
}
void operator delete[](void* memory, std::size_t, std::align_val_t) noexcept {
  bench::Release(memory);
}

// The allocation count of the benchmarks: this operator new replaces the
// program's own.
#include "bench/bench_support.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

std::atomic<int64_t> g_allocations{0};
thread_local bool t_uncounted = false;

}  // namespace

namespace logvane::bench {

int64_t Allocations() { return g_allocations.load(); }
void StopCountingThisThread() { t_uncounted = true; }

}  // namespace logvane::bench

// The compiler cannot see that this operator new and the deletes below
// belong together.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  if (!t_uncounted) g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

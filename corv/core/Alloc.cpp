#include "corv/core/Alloc.h"

#include <atomic>
#include <cstdlib>

namespace {
std::atomic<unsigned> g_skip{0};
std::atomic<unsigned> g_fail{0};
std::atomic<unsigned long> g_calls{0};

// True when this allocation is to fail.
bool TakeFailure() {
  g_calls.fetch_add(1, std::memory_order_relaxed);
  if (g_fail.load(std::memory_order_relaxed) == 0) return false;
  if (g_skip.load(std::memory_order_relaxed) > 0) {
    g_skip.fetch_sub(1, std::memory_order_relaxed);
    return false;
  }
  g_fail.fetch_sub(1, std::memory_order_relaxed);
  return true;
}
}  // namespace

void* CorvMalloc(std::size_t n) {
  if (TakeFailure()) return nullptr;
  return std::malloc(n ? n : 1);
}

void* CorvRealloc(void* p, std::size_t n) {
  if (TakeFailure()) return nullptr;
  return std::realloc(p, n ? n : 1);
}

void CorvFree(void* p) { std::free(p); }

namespace corv::test {
void FailAllocs(unsigned skip, unsigned count) {
  g_fail.store(0);
  g_skip.store(skip);
  g_fail.store(count);
}

unsigned long AllocCalls() { return g_calls.load(); }
}  // namespace corv::test

// Heap allocation for the engines. Every engine buffer goes through these, so a failed
// allocation becomes result 200 at one place and tests can make any allocation fail.
#pragma once
#include <cstddef>

// malloc/realloc/free; a request of 0 bytes still yields a distinct block. Null on failure.
void* CorvMalloc(std::size_t n);
void* CorvRealloc(void* p, std::size_t n);
void CorvFree(void* p);

namespace corv::test {
// Lets the next `skip` allocations (CorvMalloc or CorvRealloc) succeed, then makes the
// following `count` fail. FailAllocs(0, 0) switches failing off again.
void FailAllocs(unsigned skip, unsigned count);
// Number of CorvMalloc/CorvRealloc calls since the program started (failed ones included).
unsigned long AllocCalls();

// Switches injected failures off when it goes out of scope.
struct AllocFailureScope {
  AllocFailureScope(unsigned skip, unsigned count) { FailAllocs(skip, count); }
  ~AllocFailureScope() { FailAllocs(0, 0); }
  AllocFailureScope(const AllocFailureScope&) = delete;
  AllocFailureScope& operator=(const AllocFailureScope&) = delete;
};
}  // namespace corv::test

#pragma once
// The test program's operator new and delete, replaced: every allocation is counted, and a test can
// make one allocation of its own thread fail. Linked into a program only when it uses one of these.
#include <cstdint>

// Allocations of the whole program so far (any thread).
uint64_t allocation_count();

// While it lives, the nth allocation (1 = the next) on this thread throws std::bad_alloc (the
// no-throw forms return nullptr).
class FailingAllocation {
 public:
  explicit FailingAllocation(int nth);
  ~FailingAllocation();
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
};

#pragma once
// A hook in this test program's operator new: while a FailingAllocation lives, the nth allocation
// on its thread (counting from its construction) throws std::bad_alloc; all others are served.
class FailingAllocation {
 public:
  explicit FailingAllocation(int nth);
  ~FailingAllocation();
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;
};

#pragma once
// A hook in this test program's operator new: while a FailingAllocation is alive, the nth
// allocation on its thread (counting from its construction) throws std::bad_alloc. Other threads
// and every other allocation are served as usual.

class FailingAllocation {
 public:
  explicit FailingAllocation(int nth);
  ~FailingAllocation();
  FailingAllocation(const FailingAllocation&) = delete;
  FailingAllocation& operator=(const FailingAllocation&) = delete;

  // Whether the nth allocation has come (and failed).
  bool Failed() const;
};

#pragma once
// Counts the heap allocations made through `operator new` on the calling thread while a
// watch is alive, for tests that bound what a decoder or a hot path allocates. The test
// program's global `operator new` is replaced by the one in alloc_count.cpp; it only counts
// while a watch is active on the allocating thread.

#include <cstddef>

namespace ostrel_core::test {

class AllocationWatch {
 public:
  AllocationWatch();
  ~AllocationWatch();
  AllocationWatch(const AllocationWatch&) = delete;
  AllocationWatch& operator=(const AllocationWatch&) = delete;

  std::size_t count() const { return count_; }      // allocations since construction
  std::size_t bytes() const { return bytes_; }      // their total size, in bytes
  std::size_t largest() const { return largest_; }  // the largest single one, in bytes

 private:
  friend void note_allocation(std::size_t n) noexcept;
  AllocationWatch* outer_;  // the watch this one hides while it lives
  std::size_t count_ = 0;
  std::size_t bytes_ = 0;
  std::size_t largest_ = 0;
};

}  // namespace ostrel_core::test

#include "support/alloc_count.hpp"

#include <cstdlib>
#include <new>

namespace ostrel_core::test {
namespace {
thread_local AllocationWatch* t_watch = nullptr;
}  // namespace

AllocationWatch::AllocationWatch() : outer_(t_watch) { t_watch = this; }
AllocationWatch::~AllocationWatch() { t_watch = outer_; }

void note_allocation(std::size_t n) noexcept {
  for (AllocationWatch* w = t_watch; w != nullptr; w = w->outer_) {
    ++w->count_;
    w->bytes_ += n;
    if (n > w->largest_) w->largest_ = n;
  }
}

}  // namespace ostrel_core::test

void* operator new(std::size_t n) {
  ostrel_core::test::note_allocation(n);
  if (void* p = std::malloc(n == 0 ? 1 : n)) return p;
  throw std::bad_alloc();
}
void* operator new[](std::size_t n) { return ::operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
  ostrel_core::test::note_allocation(n);
  return std::malloc(n == 0 ? 1 : n);
}
void* operator new[](std::size_t n, const std::nothrow_t& t) noexcept { return ::operator new(n, t); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }

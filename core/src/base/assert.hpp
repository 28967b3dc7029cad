#pragma once
// OSTREL_ASSERT(cond): a contract of the code itself (a REQUIRES on a declaration, a state an
// edit must leave behind), checked in the checked build and free in release builds. With
// NDEBUG, `cond` is compiled but never evaluated, so it cannot rot and costs nothing; without
// it (the sanitizer builds), a false `cond` logs
//
//   assertion failed: chunk.check_invariants() (core/src/world/chunk.cpp:301)
//
// at ERROR, writes it to standard error and aborts. A broken contract of a caller that must
// stop in every build (an index past a buffer) uses contract_stop (base/error.hpp) instead.

namespace ostrel_core {

[[noreturn]] void assertion_failed(const char* condition, const char* file, int line);

}  // namespace ostrel_core

#ifdef NDEBUG
#define OSTREL_ASSERT(cond) static_cast<void>(sizeof(static_cast<bool>(cond)))
#else
#define OSTREL_ASSERT(cond)                  \
  (static_cast<bool>(cond) ? static_cast<void>(0) \
                           : ::ostrel_core::assertion_failed(#cond, __FILE__, __LINE__))
#endif

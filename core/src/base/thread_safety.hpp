#pragma once
// Clang's thread-safety attributes behind macros, and a plain mutex that carries them, so that
// shared state is declared under the lock that guards it and a clang build (-Wthread-safety)
// checks every access. Other compilers see empty macros.
//
//   sync::PlainMutex mu_;                          // guards the two fields below
//   std::deque<Request> queue_ OSTREL_GUARDED_BY(mu_);
//   void drain_locked() OSTREL_REQUIRES(mu_);
//   ...
//   sync::PlainLock lock(mu_);                     // scoped; the analysis sees it held
//   while (queue_.empty()) lock.wait(cv_);         // a condition variable on the same lock

#include <condition_variable>
#include <mutex>

#if defined(__clang__)
#define OSTREL_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define OSTREL_THREAD_ANNOTATION(x)
#endif

#define OSTREL_CAPABILITY(x) OSTREL_THREAD_ANNOTATION(capability(x))
#define OSTREL_SCOPED_CAPABILITY OSTREL_THREAD_ANNOTATION(scoped_lockable)
#define OSTREL_GUARDED_BY(x) OSTREL_THREAD_ANNOTATION(guarded_by(x))
#define OSTREL_PT_GUARDED_BY(x) OSTREL_THREAD_ANNOTATION(pt_guarded_by(x))
#define OSTREL_REQUIRES(...) OSTREL_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define OSTREL_REQUIRES_SHARED(...) OSTREL_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
#define OSTREL_ACQUIRE(...) OSTREL_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define OSTREL_ACQUIRE_SHARED(...) OSTREL_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define OSTREL_RELEASE(...) OSTREL_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define OSTREL_RELEASE_SHARED(...) OSTREL_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define OSTREL_RELEASE_GENERIC(...) OSTREL_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
#define OSTREL_TRY_ACQUIRE(...) OSTREL_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define OSTREL_EXCLUDES(...) OSTREL_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
#define OSTREL_RETURN_CAPABILITY(x) OSTREL_THREAD_ANNOTATION(lock_returned(x))
#define OSTREL_NO_THREAD_SAFETY_ANALYSIS OSTREL_THREAD_ANNOTATION(no_thread_safety_analysis)

namespace ostrel_core::sync {

// std::mutex with the capability attributes (libstdc++'s carries none).
class OSTREL_CAPABILITY("mutex") PlainMutex {
 public:
  PlainMutex() = default;
  PlainMutex(const PlainMutex&) = delete;
  PlainMutex& operator=(const PlainMutex&) = delete;

  void lock() OSTREL_ACQUIRE() { mu_.lock(); }
  void unlock() OSTREL_RELEASE() { mu_.unlock(); }
  bool try_lock() OSTREL_TRY_ACQUIRE(true) { return mu_.try_lock(); }
  std::mutex& native() { return mu_; }  // for condition variables

 private:
  std::mutex mu_;
};

// Holds a PlainMutex for its scope.
class OSTREL_SCOPED_CAPABILITY PlainLock {
 public:
  explicit PlainLock(PlainMutex& mu) OSTREL_ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  ~PlainLock() OSTREL_RELEASE() { mu_.unlock(); }
  PlainLock(const PlainLock&) = delete;
  PlainLock& operator=(const PlainLock&) = delete;

  // std::condition_variable::wait on the held mutex: released while blocked, held again on
  // return. Wakes spuriously too, so callers wait in a loop on their condition.
  void wait(std::condition_variable& cv) {
    std::unique_lock<std::mutex> native(mu_.native(), std::adopt_lock);
    cv.wait(native);
    native.release();
  }

 private:
  PlainMutex& mu_;
};

}  // namespace ostrel_core::sync

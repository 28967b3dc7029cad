#pragma once
// Locks that remember a failure: when an exception unwinds through a guard that may change the
// data, the lock is marked poisoned for the rest of the run, and later lockers are told so and
// decide what the guarded data is worth. The one poisoning mutex and the one poisoning
// read-write lock of the whole server (the script engine's access slots build on them too).
//
//   Mutex<T>   exclusive guards; any guard that sees a failure unwind poisons it
//   RwLock<T>  many readers or one writer; only a write guard poisons it, since a reader
//              cannot leave the data half-changed

#include <exception>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <utility>

#include "base/thread_safety.hpp"

namespace ostrel_core::sync {

namespace detail {

// Holds an exclusive lock for its life and gives the guarded value; a failure unwinding through
// it marks the lock poisoned. Made only by the lock that owns the three parts.
template <class M, class T>
class PoisonGuard {
 public:
  // REQUIRES: `mu` held by the caller; the guard releases it.
  PoisonGuard(M& mu, bool& poisoned, T& value)
      : mu_(&mu), poisoned_(&poisoned), value_(&value), exceptions_(std::uncaught_exceptions()) {}
  PoisonGuard(PoisonGuard&& other) noexcept
      : mu_(std::exchange(other.mu_, nullptr)),
        poisoned_(other.poisoned_),
        value_(other.value_),
        exceptions_(other.exceptions_),
        spared_(other.spared_) {}
  PoisonGuard(const PoisonGuard&) = delete;
  PoisonGuard& operator=(const PoisonGuard&) = delete;
  PoisonGuard& operator=(PoisonGuard&&) = delete;
  ~PoisonGuard() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (!mu_) return;
    if (!spared_ && std::uncaught_exceptions() > exceptions_) *poisoned_ = true;
    mu_->unlock();
  }
  T& operator*() const { return *value_; }
  T* operator->() const { return value_; }

  // The failure now unwinding through this guard is not the holder's (an error raised for a
  // caller while the lock is held, the guarded data untouched): release without poisoning.
  void spare() { spared_ = true; }

 private:
  M* mu_;  // null once moved from
  bool* poisoned_;
  T* value_;
  int exceptions_;  // failures unwinding when the guard was made
  bool spared_ = false;
};

}  // namespace detail

template <class T>
class Mutex {
 public:
  using Guard = detail::PoisonGuard<PlainMutex, T>;

  Mutex() = default;
  explicit Mutex(T value) : value_(std::move(value)) {}
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Null when the lock is poisoned; the lock is not held then.
  std::optional<Guard> lock() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    mu_.lock();
    return admit();
  }
  // Null when the lock is held elsewhere or poisoned.
  std::optional<Guard> try_lock() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (!mu_.try_lock()) return std::nullopt;
    return admit();
  }
  // Read under the lock; only meaningful as a hint. Never call it while holding a guard.
  bool is_poisoned() {
    PlainLock l(mu_);
    return poisoned_;
  }
  // Marks the lock poisoned, as a holder that failed would. Never call it while holding a guard.
  void poison() {
    PlainLock l(mu_);
    poisoned_ = true;
  }

 private:
  // With mu_ held: a guard, or (poisoned) nothing and mu_ released.
  std::optional<Guard> admit() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (poisoned_) {
      mu_.unlock();
      return std::nullopt;
    }
    return std::optional<Guard>(std::in_place, mu_, poisoned_, value_);
  }

  PlainMutex mu_;
  bool poisoned_ OSTREL_GUARDED_BY(mu_) = false;
  T value_ OSTREL_GUARDED_BY(mu_);
};

// The read-write lock's own capability type: std::shared_mutex with the attributes.
class OSTREL_CAPABILITY("mutex") SharedMutex {
 public:
  SharedMutex() = default;
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  void lock() OSTREL_ACQUIRE() { mu_.lock(); }
  void unlock() OSTREL_RELEASE() { mu_.unlock(); }
  bool try_lock() OSTREL_TRY_ACQUIRE(true) { return mu_.try_lock(); }
  void lock_shared() OSTREL_ACQUIRE_SHARED() { mu_.lock_shared(); }
  void unlock_shared() OSTREL_RELEASE_SHARED() { mu_.unlock_shared(); }
  bool try_lock_shared() OSTREL_TRY_ACQUIRE(true) { return mu_.try_lock_shared(); }

 private:
  std::shared_mutex mu_;
};

template <class T>
class RwLock {
 public:
  // Shared access; never poisons.
  class ReadGuard {
   public:
    ReadGuard(ReadGuard&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
    ReadGuard(const ReadGuard&) = delete;
    ReadGuard& operator=(const ReadGuard&) = delete;
    ReadGuard& operator=(ReadGuard&&) = delete;
    ~ReadGuard() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
      if (owner_) owner_->mu_.unlock_shared();
    }
    const T& operator*() const OSTREL_NO_THREAD_SAFETY_ANALYSIS { return owner_->value_; }
    const T* operator->() const OSTREL_NO_THREAD_SAFETY_ANALYSIS { return &owner_->value_; }

   private:
    friend class RwLock;
    explicit ReadGuard(RwLock& l) : owner_(&l) {}
    RwLock* owner_;
  };

  // Exclusive access; a failure unwinding through it poisons the lock.
  using WriteGuard = detail::PoisonGuard<SharedMutex, T>;

  RwLock() = default;
  explicit RwLock(T value) : value_(std::move(value)) {}
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  // Each is null when the lock is poisoned (and then not held); the try forms also when the
  // lock is held in a way that excludes them.
  std::optional<ReadGuard> read() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    mu_.lock_shared();
    return admit_reader();
  }
  std::optional<ReadGuard> try_read() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (!mu_.try_lock_shared()) return std::nullopt;
    return admit_reader();
  }
  std::optional<WriteGuard> write() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    mu_.lock();
    return admit_writer();
  }
  std::optional<WriteGuard> try_write() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (!mu_.try_lock()) return std::nullopt;
    return admit_writer();
  }
  // A hint only; never call it while holding a write guard.
  bool is_poisoned() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    std::shared_lock l(mu_);
    return poisoned_;
  }

 private:
  // With mu_ held the matching way: a guard, or (poisoned) nothing and mu_ released.
  std::optional<ReadGuard> admit_reader() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (poisoned_) {
      mu_.unlock_shared();
      return std::nullopt;
    }
    return std::optional<ReadGuard>(ReadGuard(*this));
  }
  std::optional<WriteGuard> admit_writer() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (poisoned_) {
      mu_.unlock();
      return std::nullopt;
    }
    return std::optional<WriteGuard>(std::in_place, mu_, poisoned_, value_);
  }

  SharedMutex mu_;
  bool poisoned_ OSTREL_GUARDED_BY(mu_) = false;  // only write guards set it
  T value_ OSTREL_GUARDED_BY(mu_);
};

}  // namespace ostrel_core::sync

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

template <class T>
class Mutex {
 public:
  class Guard {
   public:
    Guard(Guard&& other) noexcept
        : owner_(std::exchange(other.owner_, nullptr)), exceptions_(other.exceptions_) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;
    ~Guard() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
      if (!owner_) return;
      if (std::uncaught_exceptions() > exceptions_) owner_->poisoned_ = true;
      owner_->mu_.unlock();
    }
    T& operator*() const OSTREL_NO_THREAD_SAFETY_ANALYSIS { return owner_->value_; }
    T* operator->() const OSTREL_NO_THREAD_SAFETY_ANALYSIS { return &owner_->value_; }

   private:
    friend class Mutex;
    // REQUIRES: m.mu_ held by the caller; the guard releases it.
    explicit Guard(Mutex& m) : owner_(&m), exceptions_(std::uncaught_exceptions()) {}
    Mutex* owner_;
    int exceptions_;
  };

  Mutex() = default;
  explicit Mutex(T value) : value_(std::move(value)) {}
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Null when the lock is poisoned; the lock is not held then.
  std::optional<Guard> lock() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    mu_.lock();
    if (poisoned_) {
      mu_.unlock();
      return std::nullopt;
    }
    return std::optional<Guard>(Guard(*this));
  }
  // Null when the lock is held elsewhere or poisoned.
  std::optional<Guard> try_lock() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (!mu_.try_lock()) return std::nullopt;
    if (poisoned_) {
      mu_.unlock();
      return std::nullopt;
    }
    return std::optional<Guard>(Guard(*this));
  }
  // Read under the lock; only meaningful as a hint. Never call it while holding a guard.
  bool is_poisoned() {
    PlainLock l(mu_);
    return poisoned_;
  }

 private:
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
  class WriteGuard {
   public:
    WriteGuard(WriteGuard&& other) noexcept
        : owner_(std::exchange(other.owner_, nullptr)), exceptions_(other.exceptions_) {}
    WriteGuard(const WriteGuard&) = delete;
    WriteGuard& operator=(const WriteGuard&) = delete;
    WriteGuard& operator=(WriteGuard&&) = delete;
    ~WriteGuard() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
      if (!owner_) return;
      if (std::uncaught_exceptions() > exceptions_) owner_->poisoned_ = true;
      owner_->mu_.unlock();
    }
    T& operator*() const OSTREL_NO_THREAD_SAFETY_ANALYSIS { return owner_->value_; }
    T* operator->() const OSTREL_NO_THREAD_SAFETY_ANALYSIS { return &owner_->value_; }

   private:
    friend class RwLock;
    explicit WriteGuard(RwLock& l) : owner_(&l), exceptions_(std::uncaught_exceptions()) {}
    RwLock* owner_;
    int exceptions_;
  };

  RwLock() = default;
  explicit RwLock(T value) : value_(std::move(value)) {}
  RwLock(const RwLock&) = delete;
  RwLock& operator=(const RwLock&) = delete;

  // Each is null when the lock is poisoned (and then not held); the try forms also when the
  // lock is held in a way that excludes them.
  std::optional<ReadGuard> read() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    mu_.lock_shared();
    if (poisoned_) {
      mu_.unlock_shared();
      return std::nullopt;
    }
    return std::optional<ReadGuard>(ReadGuard(*this));
  }
  std::optional<ReadGuard> try_read() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (!mu_.try_lock_shared()) return std::nullopt;
    if (poisoned_) {
      mu_.unlock_shared();
      return std::nullopt;
    }
    return std::optional<ReadGuard>(ReadGuard(*this));
  }
  std::optional<WriteGuard> write() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    mu_.lock();
    if (poisoned_) {
      mu_.unlock();
      return std::nullopt;
    }
    return std::optional<WriteGuard>(WriteGuard(*this));
  }
  std::optional<WriteGuard> try_write() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    if (!mu_.try_lock()) return std::nullopt;
    if (poisoned_) {
      mu_.unlock();
      return std::nullopt;
    }
    return std::optional<WriteGuard>(WriteGuard(*this));
  }
  // A hint only; never call it while holding a write guard.
  bool is_poisoned() OSTREL_NO_THREAD_SAFETY_ANALYSIS {
    std::shared_lock l(mu_);
    return poisoned_;
  }

 private:
  SharedMutex mu_;
  bool poisoned_ OSTREL_GUARDED_BY(mu_) = false;  // only write guards set it
  T value_ OSTREL_GUARDED_BY(mu_);
};

}  // namespace ostrel_core::sync

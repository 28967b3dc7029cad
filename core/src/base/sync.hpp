#pragma once
// A mutex that remembers a failure: when an exception unwinds through a guard, the lock is
// marked poisoned for the rest of the run, and later lockers are told so and decide what the
// guarded data is worth. The one poisoning lock of the whole server (the script engine's access
// slots build on it too).

#include <exception>
#include <mutex>
#include <optional>
#include <utility>

namespace ostrel_core::sync {

template <class T>
class Mutex {
 public:
  class Guard {
   public:
    Guard(Guard&& other) noexcept
        : owner_(std::exchange(other.owner_, nullptr)), lock_(std::move(other.lock_)),
          exceptions_(other.exceptions_) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    ~Guard() {
      if (owner_ && std::uncaught_exceptions() > exceptions_) owner_->poisoned_ = true;
    }
    T& operator*() const { return owner_->value_; }
    T* operator->() const { return &owner_->value_; }

   private:
    friend class Mutex;
    explicit Guard(Mutex& m)
        : owner_(&m), lock_(m.mu_), exceptions_(std::uncaught_exceptions()) {}
    Guard(Mutex& m, std::unique_lock<std::mutex> lock)
        : owner_(&m), lock_(std::move(lock)), exceptions_(std::uncaught_exceptions()) {}
    Mutex* owner_;
    std::unique_lock<std::mutex> lock_;
    int exceptions_;
  };

  Mutex() = default;
  explicit Mutex(T value) : value_(std::move(value)) {}
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // Null when the lock is poisoned; the lock is not held then.
  std::optional<Guard> lock() {
    Guard g(*this);
    if (poisoned_) return std::nullopt;
    return std::optional<Guard>(std::move(g));
  }
  // Null when the lock is held elsewhere or poisoned.
  std::optional<Guard> try_lock() {
    std::unique_lock<std::mutex> l(mu_, std::try_to_lock);
    if (!l.owns_lock() || poisoned_) return std::nullopt;
    return std::optional<Guard>(Guard(*this, std::move(l)));
  }
  // Read under the lock; only meaningful as a hint.
  bool is_poisoned() {
    std::lock_guard l(mu_);
    return poisoned_;
  }

 private:
  std::mutex mu_;
  bool poisoned_ = false;  // guarded by mu_
  T value_;                // guarded by mu_
};

}  // namespace ostrel_core::sync

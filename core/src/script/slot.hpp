#pragma once
// An access slot: a shared, lockable cell holding at most one handle on a host service.
//
// Runtime `game` functions are made while mods load, long before the world exists; they keep a
// shared reference to the slot, not to the service, so a service installed later is seen by all
// of them at once. A slot whose holder unwound by an exception while holding its lock is
// poisoned for good: installs are dropped and readers report the service as poisoned.

#include <exception>
#include <memory>
#include <utility>

#include "base/thread_safety.hpp"

namespace ostrel_core::script {

template <class T>
class Slot {
 public:
  Slot() = default;
  Slot(const Slot&) = delete;
  Slot& operator=(const Slot&) = delete;

  // Replaces the held handle (the old one is released) unless the slot is poisoned, in which
  // case `handle` is released and the slot keeps what it held.
  void install(std::shared_ptr<T> handle) {
    std::shared_ptr<T> old;
    {
      sync::PlainLock lock(mu_);
      if (poisoned_) return;  // `handle` is released on return
      old = std::exchange(held_, std::move(handle));
    }
    // `old` is released outside the lock: its destructor may be arbitrary service code.
  }

  // Runs `fn(T*)` under the lock, with null when the slot is empty. An exception leaving `fn`
  // poisons the slot. Returns `fn`'s result; `poisoned` (when given) tells a poisoned slot,
  // in which case `fn` is not called and a default result is returned.
  template <class F>
  auto with(F&& fn, bool* poisoned = nullptr) -> decltype(fn(static_cast<T*>(nullptr))) {
    sync::PlainLock lock(mu_);
    if (poisoned != nullptr) *poisoned = poisoned_;
    if (poisoned_) return decltype(fn(static_cast<T*>(nullptr)))();
    PoisonOnUnwind guard{poisoned_, std::uncaught_exceptions()};
    return fn(held_.get());
  }

  // A shared reference to the held handle (null when empty or poisoned), for callers that
  // call the service after releasing the lock.
  std::shared_ptr<T> get() const {
    sync::PlainLock lock(mu_);
    return poisoned_ ? nullptr : held_;
  }

  bool poisoned() const {
    sync::PlainLock lock(mu_);
    return poisoned_;
  }

  // Marks the slot poisoned, as a holder that failed would.
  void poison() {
    sync::PlainLock lock(mu_);
    poisoned_ = true;
  }

 private:
  struct PoisonOnUnwind {
    bool& flag;
    int exceptions;
    ~PoisonOnUnwind() {
      if (std::uncaught_exceptions() > exceptions) flag = true;
    }
  };

  mutable sync::PlainMutex mu_;
  bool poisoned_ OSTREL_GUARDED_BY(mu_) = false;
  std::shared_ptr<T> held_ OSTREL_GUARDED_BY(mu_);
};

template <class T>
using SlotHandle = std::shared_ptr<Slot<T>>;

}  // namespace ostrel_core::script

#pragma once
// An access slot: a shared, lockable cell holding at most one handle on a host service.
//
// Runtime `game` functions are made while mods load, long before the world exists; they keep a
// shared reference to the slot, not to the service, so a service installed later is seen by all
// of them at once. The cell is the server's one poisoning lock (base/sync.hpp): a holder that
// unwinds by an exception while holding it poisons the slot for good, after which installs are
// dropped and readers report the service as poisoned. A Lua error raised while the slot is used
// (a refusal for the script, or memory running out while a result is pushed) is the script's,
// not the service's, and never poisons it.

#include <memory>
#include <utility>

#include "base/sync.hpp"

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
    if (auto held = cell_.lock()) old = std::exchange(**held, std::move(handle));
    // `old` (or a refused `handle`) is released outside the lock: its destructor may be
    // arbitrary service code.
  }

  // Runs `fn(T*)` under the lock, with null when the slot is empty. An exception leaving `fn`
  // poisons the slot, but for a Lua error. Returns `fn`'s result; `poisoned` (when given) tells a
  // poisoned slot, in which case `fn` is not called and a default result is returned.
  template <class F>
  auto with(F&& fn, bool* poisoned = nullptr) -> decltype(fn(static_cast<T*>(nullptr))) {
    auto held = cell_.lock();
    if (poisoned != nullptr) *poisoned = !held;
    if (!held) return decltype(fn(static_cast<T*>(nullptr)))();
    try {
      return fn((**held).get());
    } catch (void*) {
      // Lua built as C++ raises its errors as a thrown pointer (its own jump record); no
      // service failure is ever thrown as one.
      held->spare();
      throw;
    }
  }

  // A shared reference to the held handle (null when empty or poisoned), for callers that
  // call the service after releasing the lock.
  std::shared_ptr<T> get() const {
    auto held = cell_.lock();
    return held ? **held : nullptr;
  }

  bool poisoned() const { return cell_.is_poisoned(); }

  // Marks the slot poisoned, as a holder that failed would.
  void poison() { cell_.poison(); }

 private:
  mutable sync::Mutex<std::shared_ptr<T>> cell_;
};

template <class T>
using SlotHandle = std::shared_ptr<Slot<T>>;

}  // namespace ostrel_core::script

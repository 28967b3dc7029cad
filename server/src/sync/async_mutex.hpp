#pragma once
// An asynchronous mutex: a coroutine waits for it without blocking its thread (sync/await.hpp
// has the awaiting `lock`), a plain thread may block on it, and anyone may try it without
// waiting. Waiters are served first come, first served, whatever their kind: a release hands
// the lock straight to the first waiter in line, so nobody overtakes. A waiter that leaves the
// line before its turn (a cancelled coroutine) is never handed the lock.
//
// This header has no Asio in it: the line calls a plain wake-up when it grants the lock, and
// the awaiting side turns that into a completion on its own executor.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <utility>

#include "base/thread_safety.hpp"

namespace ostrel_server::sync {

// The waiting line of one lock, without the data it guards.
class AsyncLock {
 public:
  // Runs once, on the releasing thread and outside the line's own lock, when the lock passes
  // to its waiter; from then on that waiter holds the lock.
  using Grant = std::function<void()>;
  using Ticket = std::uint64_t;

  AsyncLock() = default;
  AsyncLock(const AsyncLock&) = delete;
  AsyncLock& operator=(const AsyncLock&) = delete;

  // Takes the lock when it is free and nobody waits.
  bool try_acquire();
  // Takes the lock at once (no ticket) or joins the end of the line.
  std::optional<Ticket> acquire_or_wait(Grant grant);
  // True: the waiter left the line and will never be granted the lock. False: it was granted
  // the lock already (its grant ran or is running) and holds it.
  bool leave(Ticket ticket);
  // Waits in line on the calling thread. Plain threads only, never a runtime's thread.
  void acquire_blocking();
  // REQUIRES: held by the caller. Passes the lock to the first waiter, or frees it.
  void release();

  std::size_t waiting();
  bool locked();

 private:
  ostrel_core::sync::PlainMutex mu_;  // guards everything below
  bool locked_ OSTREL_GUARDED_BY(mu_) = false;
  std::deque<std::pair<Ticket, Grant>> line_ OSTREL_GUARDED_BY(mu_);  // oldest first
  Ticket next_ticket_ OSTREL_GUARDED_BY(mu_) = 0;
};

template <class T>
class AsyncMutex {
 public:
  // Holds the lock for its life; moving it moves the holding.
  class Guard {
   public:
    Guard(Guard&& other) noexcept : owner_(std::exchange(other.owner_, nullptr)) {}
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;
    Guard& operator=(Guard&&) = delete;
    ~Guard() {
      if (owner_) owner_->line_.release();
    }
    T& operator*() const { return owner_->value_; }
    T* operator->() const { return &owner_->value_; }

   private:
    friend class AsyncMutex;
    explicit Guard(AsyncMutex* owner) : owner_(owner) {}
    AsyncMutex* owner_;
  };

  template <class... Args>
  explicit AsyncMutex(Args&&... args) : value_(std::forward<Args>(args)...) {}
  AsyncMutex(const AsyncMutex&) = delete;
  AsyncMutex& operator=(const AsyncMutex&) = delete;

  // Never waits; null when the lock is held or somebody waits for it.
  std::optional<Guard> try_lock() {
    if (!line_.try_acquire()) return std::nullopt;
    return std::optional<Guard>(Guard(this));
  }
  // Blocks the calling thread until its turn. Plain threads only.
  Guard lock_blocking() {
    line_.acquire_blocking();
    return Guard(this);
  }

  // For the awaiting side (sync/await.hpp).
  AsyncLock& line() { return line_; }
  // REQUIRES: the caller was granted the lock through line().
  Guard adopt() { return Guard(this); }

 private:
  AsyncLock line_;
  T value_;  // reached only through a Guard, that is while line_ is held
};

}  // namespace ostrel_server::sync

#pragma once
// Time as a parameter. Code that waits or times out takes a Clock instead of reading the
// system's, so that tests step a manual one instead of sleeping (as ngtcp2 is handed `now`).
//
//   steady()      the process's monotonic clock; its time passes by itself
//   ManualClock   time stands still until advance(); then sleepers wake and watchers run
//
// A user that waits on an event loop asks on_steady(): a clock whose time passes by itself
// answers with the moment on std::chrono::steady_clock, and an OS timer can wait for it; a
// manual clock answers nothing, and the user re-checks its deadlines from an on_step() watcher.
// A thread that waits calls sleep_until().

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "base/thread_safety.hpp"

namespace ostrel_core::clock {

class Clock;

// Nanoseconds on one clock's monotonic line. Only differences and comparisons mean anything;
// instants of two clocks are not comparable.
using Duration = std::chrono::nanoseconds;
using Instant = std::chrono::time_point<Clock, Duration>;

// A watcher's registration; dropping it unregisters the watcher, waiting for a call in progress.
class StepWatch {
 public:
  StepWatch() = default;
  explicit StepWatch(std::function<void()> cancel) : cancel_(std::move(cancel)) {}
  StepWatch(StepWatch&& other) noexcept : cancel_(std::exchange(other.cancel_, nullptr)) {}
  StepWatch& operator=(StepWatch&& other) noexcept {
    if (this != &other) {
      reset();
      cancel_ = std::exchange(other.cancel_, nullptr);
    }
    return *this;
  }
  StepWatch(const StepWatch&) = delete;
  StepWatch& operator=(const StepWatch&) = delete;
  ~StepWatch() { reset(); }

  void reset() {
    if (cancel_) std::exchange(cancel_, nullptr)();
  }

 private:
  std::function<void()> cancel_;
};

class Clock {
 public:
  virtual ~Clock() = default;

  virtual Instant now() const = 0;
  // Blocks the calling thread until now() >= at.
  virtual void sleep_until(Instant at) const = 0;
  // `at` on std::chrono::steady_clock, for a clock whose time passes by itself; nothing for a
  // clock that moves only in steps.
  virtual std::optional<std::chrono::steady_clock::time_point> on_steady(Instant at) const = 0;
  // Calls `stepped` on the stepping thread after every step, while the watch lives. A clock whose
  // time passes by itself never steps and returns an empty watch. A watcher must not drop a
  // watch of the same clock.
  [[nodiscard]] virtual StepWatch on_step(std::function<void()> stepped) const = 0;
};

// The process's monotonic clock (std::chrono::steady_clock). Stateless; lives for the process.
const Clock& steady();

// Nanoseconds of `at` since the clock's origin, as the QUIC library takes timestamps.
inline std::uint64_t nanos(Instant at) { return static_cast<std::uint64_t>(at.time_since_epoch().count()); }

// A clock for tests: time stands still until advance() moves it. Shared between the stepping
// thread and the threads that read it or sleep on it.
class ManualClock final : public Clock {
 public:
  // Starts at one second, so that no instant a test meets is zero.
  explicit ManualClock(Instant start = Instant(std::chrono::seconds(1))) : now_(start) {}
  ManualClock(const ManualClock&) = delete;
  ManualClock& operator=(const ManualClock&) = delete;

  Instant now() const override;
  void sleep_until(Instant at) const override;
  std::optional<std::chrono::steady_clock::time_point> on_steady(Instant) const override { return std::nullopt; }
  [[nodiscard]] StepWatch on_step(std::function<void()> stepped) const override;

  // Moves time forward by `by` (a negative step is ignored), wakes the sleepers whose time has
  // come, then calls every watcher once, in the order they were registered.
  void advance(Duration by);

 private:
  mutable sync::PlainMutex mu_;  // guards the two fields below
  Instant now_ OSTREL_GUARDED_BY(mu_);
  mutable std::map<std::uint64_t, std::function<void()>> watchers_ OSTREL_GUARDED_BY(mu_);
  mutable std::uint64_t next_watch_ OSTREL_GUARDED_BY(mu_) = 0;
  mutable std::condition_variable_any moved_;
  // Held while watchers run, so that dropping a watch waits for a call in progress. Taken
  // before mu_, never the other way round.
  mutable sync::PlainMutex calling_;
};

}  // namespace ostrel_core::clock

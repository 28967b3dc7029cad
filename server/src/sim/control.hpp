#pragma once
// The simulation control block: what the loop counts and what other threads may ask of it. The
// server handle, the player hub and the simulation thread each hold the shared handle
// (`Control`), so the console, the accept loop and the orderly stop reach the counters and flags
// without touching the simulation thread.
//
// Orderings: counters are relaxed (atomicity only); `stop` and `save_requested` are stored with
// release and read with acquire; the save request is taken with one acquire-release swap, so
// two requests before the tick that honours them cause one save. Nothing here is ever reset.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/sync.hpp"

namespace ostrel_server::sim {

inline constexpr std::chrono::milliseconds kTickBudget{50};
inline constexpr std::size_t kMaxTickSamples = 100'000;

class ControlInner {
 public:
  ControlInner() = default;
  ControlInner(const ControlInner&) = delete;
  ControlInner& operator=(const ControlInner&) = delete;

  // --- Written by the simulation loop only.
  void set_ticks(std::uint64_t ticks) { ticks_.store(ticks, std::memory_order_relaxed); }
  void set_dropped(std::uint64_t total) { dropped_.store(total, std::memory_order_relaxed); }
  // One tick's duration: raises the slowest tick, counts an overrun when it is over 50 ms, and
  // keeps the sample (microseconds, saturated to 32 bits) while fewer than 100,000 are kept. A
  // poisoned sample list skips the sample.
  void note_tick(std::chrono::nanoseconds duration);
  // Keeps `report` as the slowest over-budget tick's when `duration_us` is above every one
  // noted before.
  void note_tick_phases(std::uint64_t duration_us, std::string report);

  std::uint64_t ticks() const { return ticks_.load(std::memory_order_relaxed); }
  std::uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }
  std::uint64_t slowest_tick_us() const { return slowest_tick_us_.load(std::memory_order_relaxed); }
  std::uint64_t overruns() const { return overruns_.load(std::memory_order_relaxed); }
  // A copy of the samples; empty when the list is poisoned.
  std::vector<std::uint32_t> tick_samples();
  // The kept report of the slowest over-budget tick, or empty.
  std::string slowest_report();

  // --- Flags.
  void request_stop() { stop_.store(true, std::memory_order_release); }
  bool stop_requested() const { return stop_.load(std::memory_order_acquire); }
  // Nothing in the server sets it; the loop honours it.
  bool paused() const { return paused_.load(std::memory_order_relaxed); }
  void set_paused(bool paused) { paused_.store(paused, std::memory_order_relaxed); }
  void request_save() { save_requested_.store(true, std::memory_order_release); }
  // True once per request (or per run of requests made before the take).
  bool take_save_request() { return save_requested_.exchange(false, std::memory_order_acq_rel); }
  // The flag as the accept loop and the console listener watch it.
  const std::atomic<bool>& stop_flag() const { return stop_; }

 private:
  std::atomic<std::uint64_t> ticks_{0};                           // ticks run since start
  std::atomic<std::uint64_t> dropped_{0};                         // running total of dropped ticks
  std::atomic<std::uint64_t> slowest_tick_us_{0};                 // microseconds
  std::atomic<std::uint64_t> overruns_{0};                        // ticks over 50 ms
  ostrel_core::sync::Mutex<std::vector<std::uint32_t>> tick_us_;  // microseconds, at most 100,000
  std::atomic<std::uint64_t> slowest_report_us_{0};
  ostrel_core::sync::Mutex<std::string> slowest_report_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> paused_{false};
  std::atomic<bool> save_requested_{false};
};

// The shared handle; copies share one block.
using Control = std::shared_ptr<ControlInner>;

inline Control make_control() { return std::make_shared<ControlInner>(); }

}  // namespace ostrel_server::sim

#pragma once
// The fixed-step clock of the simulation: 50 ms steps, at most 5 granted in one pass, a larger
// backlog dropped and counted rather than chased. A plain value: no threads, locks or clock
// reads; the loop hands it the wall time that passed since its previous pass.
//
//   owed before   advance answers (sleep, steps, dropped)   owed after
//      20 ms          30 ms, 0, 0                              20 ms
//     120 ms           0, 2, 0                                 20 ms
//     300 ms           0, 5, 1                                  0
//     400 ms           0, 5, 3                                  0

#include <chrono>
#include <cstdint>

namespace ostrel_core::tick {

// A non-negative span of time: whole seconds and the nanoseconds below one second. Wide
// enough that adding to it saturates instead of wrapping.
struct Span {
  std::uint64_t secs = 0;
  std::uint32_t nanos = 0;  // 0..=999,999,999

  static constexpr std::uint32_t kNanosPerSec = 1'000'000'000;
  // The largest span: 2^64 - 1 seconds and 999,999,999 nanoseconds.
  static constexpr Span max() { return {~std::uint64_t{0}, kNanosPerSec - 1}; }
  // A chrono duration; a negative one (a clock that went backwards) is zero.
  static Span of(std::chrono::nanoseconds d);
  static constexpr Span from_millis(std::uint64_t ms) {
    return {ms / 1000, static_cast<std::uint32_t>(ms % 1000) * 1'000'000};
  }
  // In nanoseconds, saturating at the largest std::chrono::nanoseconds.
  std::chrono::nanoseconds to_chrono() const;
  friend bool operator==(const Span&, const Span&) = default;
};

inline constexpr Span kStep = Span::from_millis(50);
inline constexpr std::uint32_t kMaxStepsPerPass = 5;

// What one pass runs.
struct Advance {
  Span sleep;                 // how long the caller may sleep; non-zero only when steps is 0
  std::uint32_t steps = 0;    // ticks to run now, 0..=5
  std::uint32_t dropped = 0;  // ticks given up in this pass
  friend bool operator==(const Advance&, const Advance&) = default;
};

class Accumulator {
 public:
  // Adds `elapsed` (saturating), grants the whole steps due, at most 5, and drops the rest of
  // a larger backlog together with the remainder below one step. Allocates nothing.
  Advance advance(Span elapsed);

  std::uint64_t ticks() const { return ticks_; }      // steps granted since construction
  std::uint64_t dropped() const { return dropped_; }  // steps dropped since construction
  Span accumulated() const { return accumulated_; }   // owed and not yet spent

 private:
  std::uint64_t ticks_ = 0;
  std::uint64_t dropped_ = 0;
  Span accumulated_;
};

}  // namespace ostrel_core::tick

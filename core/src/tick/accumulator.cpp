#include "tick/accumulator.hpp"

#include <algorithm>
#include <limits>

namespace ostrel_core::tick {
namespace {

__extension__ typedef unsigned __int128 u128;

constexpr u128 to_nanos(Span s) { return u128{s.secs} * Span::kNanosPerSec + s.nanos; }
constexpr u128 kStepNanos = to_nanos(kStep);

Span add_saturating(Span a, Span b) {
  std::uint64_t secs = a.secs + b.secs;
  bool overflow = secs < a.secs;
  std::uint32_t nanos = a.nanos + b.nanos;  // below 2 x 10^9: fits
  if (nanos >= Span::kNanosPerSec) {
    nanos -= Span::kNanosPerSec;
    if (secs == std::numeric_limits<std::uint64_t>::max()) overflow = true;
    ++secs;
  }
  return overflow ? Span::max() : Span{secs, nanos};
}

// REQUIRES: n below 2^64 seconds' worth of nanoseconds.
constexpr Span of_nanos(u128 n) {
  return {static_cast<std::uint64_t>(n / Span::kNanosPerSec),
          static_cast<std::uint32_t>(n % Span::kNanosPerSec)};
}

}  // namespace

Span Span::of(std::chrono::nanoseconds d) {
  if (d.count() <= 0) return {};
  auto n = static_cast<std::uint64_t>(d.count());
  return {n / kNanosPerSec, static_cast<std::uint32_t>(n % kNanosPerSec)};
}

std::chrono::nanoseconds Span::to_chrono() const {
  u128 n = to_nanos(*this);
  constexpr auto kMax = static_cast<u128>(std::numeric_limits<std::chrono::nanoseconds::rep>::max());
  return std::chrono::nanoseconds(static_cast<std::chrono::nanoseconds::rep>(std::min(n, kMax)));
}

Advance Accumulator::advance(Span elapsed) {
  accumulated_ = add_saturating(accumulated_, elapsed);
  u128 owed = to_nanos(accumulated_);
  u128 due_wide = owed / kStepNanos;
  std::uint32_t due = due_wide > std::numeric_limits<std::uint32_t>::max()
                          ? std::numeric_limits<std::uint32_t>::max()
                          : static_cast<std::uint32_t>(due_wide);
  if (due == 0) return {of_nanos(kStepNanos - owed), 0, 0};

  Advance a;
  a.steps = std::min(due, kMaxStepsPerPass);
  if (due > kMaxStepsPerPass) {
    accumulated_ = {};
    a.dropped = due - kMaxStepsPerPass;
  } else {
    accumulated_ = of_nanos(owed - a.steps * kStepNanos);
  }
  ticks_ += a.steps;
  dropped_ += a.dropped;
  return a;
}

}  // namespace ostrel_core::tick

#include "world/sqlclock.hpp"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace ostrel_server::sqlclock {
namespace {

Clock::duration add_durations(Clock::duration a, Clock::duration b) {
  Clock::rep sum = 0;
  if (__builtin_add_overflow(a.count(), b.count(), &sum)) {
    std::fputs("overflow when adding durations\n", stderr);
    std::abort();
  }
  return Clock::duration(sum);
}

}  // namespace

void Log::record(std::string_view label, Clock::time_point start, Clock::time_point end) {
  if (borrowed_) return;
  const Clock::duration took = end > start ? end - start : Clock::duration::zero();
  if (calls_.size() < kMaxCalls) {
    calls_.push_back(Call{label, start, took});
    return;
  }
  if (!unlisted_) unlisted_ = Call{kUnlisted, start, Clock::duration::zero()};
  unlisted_->duration = add_durations(unlisted_->duration, took);
}

Taken Log::take() {
  Taken out;
  out.calls = std::exchange(calls_, {});
  out.unlisted = std::exchange(unlisted_, std::nullopt);
  return out;
}

std::optional<Log::Borrow> Log::borrow() {
  if (borrowed_) return std::nullopt;
  return std::optional<Borrow>(std::in_place, *this);
}

}  // namespace ostrel_server::sqlclock

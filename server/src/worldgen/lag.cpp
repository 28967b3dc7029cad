#include "worldgen/lag.hpp"

#include <fmt/format.h>

#include <chrono>
#include <limits>
#include <numeric>

#include "base/log.hpp"

namespace ostrel_server::worldgen {

namespace log = ostrel_core::log;
using ostrel_core::clock::Duration;

namespace {

std::uint64_t whole_micros(Duration d) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(d).count();
  return us < 0 ? 0 : static_cast<std::uint64_t>(us);
}

}  // namespace

void Lag::reset() {
  streak_ = 0;
  streak_since_.reset();
}

std::optional<LagReport> Lag::look(ostrel_core::clock::Instant now, Duration busy, std::size_t workers,
                                   std::size_t waiting) {
  const auto previous = last_look_;
  const Duration previous_busy = last_busy_;
  last_look_ = now;
  last_busy_ = busy;
  if (!previous) {
    reset();
    return std::nullopt;
  }
  const Duration wall = now > *previous ? now - *previous : Duration{};
  const Duration busy_delta = busy > previous_busy ? busy - previous_busy : Duration{};
  const std::uint64_t wall_us = whole_micros(wall);
  std::uint64_t capacity = 0;
  if (workers != 0 && __builtin_mul_overflow(wall_us, static_cast<std::uint64_t>(workers), &capacity)) {
    capacity = std::numeric_limits<std::uint64_t>::max();
  }
  if (capacity == 0) {
    reset();
    return std::nullopt;
  }
  std::uint64_t scaled = 0;
  if (__builtin_mul_overflow(whole_micros(busy_delta), std::uint64_t{100}, &scaled)) {
    scaled = std::numeric_limits<std::uint64_t>::max();
  }
  const std::uint64_t percent = std::min<std::uint64_t>(scaled / capacity, 100);
  if (waiting == 0 || percent < kSaturated) {
    reset();
    return std::nullopt;
  }
  if (streak_ == 0) streak_since_ = previous;
  if (streak_ != std::numeric_limits<std::uint32_t>::max()) ++streak_;
  if (streak_ < 3) return std::nullopt;
  const Duration behind = now > *streak_since_ ? now - *streak_since_ : Duration{};
  return LagReport{behind, percent, streak_};
}

std::string mean_ms(const std::deque<std::uint64_t>& micros) {
  if (micros.empty()) return "0.0";
  // The sum of 64 u64 entries can overflow only past 2^58 us each; saturate all the same.
  std::uint64_t sum = 0;
  for (const std::uint64_t v : micros) {
    if (__builtin_add_overflow(sum, v, &sum)) sum = std::numeric_limits<std::uint64_t>::max();
  }
  const std::uint64_t mean = sum / micros.size();
  return fmt::format("{:.1f}", static_cast<double>(mean) / 1000.0);
}

void warn_behind(const LagReport& report, std::size_t waiting, std::size_t in_flight,
                 const std::deque<std::uint64_t>& times, std::size_t workers) {
  const std::string ms = mean_ms(times);
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(report.behind).count();
  OSTREL_WARN("ostrel_server::worldgen",
              fmt::format("generation behind: {} chunks waiting, {} in flight, {} ms/chunk — {} workers "
                          "generating {}% of the time for {} s",
                          waiting, in_flight, ms, workers, report.busy_percent, seconds),
              log::value("waiting", waiting), log::value("in_flight", in_flight),
              log::text("ms_per_chunk", ms), log::value("workers", workers),
              log::value("busy_percent", report.busy_percent), log::value("behind_seconds", seconds));
}

}  // namespace ostrel_server::worldgen

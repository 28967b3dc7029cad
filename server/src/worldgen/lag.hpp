#pragma once
// Lag: the load watch. Every 20th tick the simulation thread takes one look at how much of the
// elapsed time the workers spent generating while chunk requests waited; from the third
// saturated look (90 % or more) in a row, each look reports how far behind generation is.
//
//   calm (streak 0) -> saturated look -> streak 1, 2 (silent) -> 3, 4, ... (a report each)
//   any look that is not saturated (first look, no time passed, nobody waiting, < 90 %) -> calm

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "base/clock.hpp"

namespace ostrel_server::worldgen {

struct LagReport {
  ostrel_core::clock::Duration behind{};  // since the interval before the streak's first look
  std::uint64_t busy_percent = 0;         // of the last interval, 90..=100
  std::uint32_t looks = 0;                // the streak, 3 or more
};

class Lag {
 public:
  static constexpr std::uint64_t kSaturated = 90;  // percent

  // One look: `busy` is the pool's busy total at `now`, `waiting` the chunk requests waiting.
  std::optional<LagReport> look(ostrel_core::clock::Instant now, ostrel_core::clock::Duration busy,
                                std::size_t workers, std::size_t waiting);

 private:
  void reset();

  std::optional<ostrel_core::clock::Instant> last_look_;
  ostrel_core::clock::Duration last_busy_{};
  std::uint32_t streak_ = 0;  // saturating
  std::optional<ostrel_core::clock::Instant> streak_since_;
};

// The mean of the window in milliseconds with one decimal ("12.3"); "0.0" for an empty window.
std::string mean_ms(const std::deque<std::uint64_t>& micros);

// Logs the warning for `report`.
void warn_behind(const LagReport& report, std::size_t waiting, std::size_t in_flight,
                 const std::deque<std::uint64_t>& times, std::size_t workers);

}  // namespace ostrel_server::worldgen

#pragma once
// A player's movement intents by sequence number (the tick each is meant for). Clients send
// ahead; the tick takes the intent in force once a tick. Early intents wait for their tick,
// several for one tick range collapse to the newest, and a player whose input stops halts
// after 10 ticks instead of running on.
//
// Window: after take(t) the queue accepts t+1 ..= t+64, so at most 64 intents wait.
// Example: last taken 100: 100 refused, 101 and 164 accepted, 165 refused.

#include <cstddef>
#include <cstdint>
#include <map>

#include "movement/phys.hpp"

namespace ostrel_core::phys::input {

inline constexpr std::uint64_t kWindow = 64;          // sequence numbers accepted past the last take
inline constexpr std::uint64_t kStopAfterTicks = 10;  // ticks without input the last intent lasts

class InputQueue {
 public:
  // Empty, the zero intent in force, both counters at `tick` (the ticks run so far).
  explicit InputQueue(std::uint64_t tick) : last_taken_(tick), last_input_(tick) {}

  // Queues `intent` for tick `sequence`. False, changing nothing, when sequence <= last taken,
  // sequence > last taken + 64, or an intent for it waits already (the first one stays).
  bool offer(std::uint64_t sequence, const Intent& intent);
  // The intent in force at tick `t`: every waiting intent up to t is consumed in order and the
  // newest becomes current; without any for more than 10 ticks, the zero intent.
  Intent take(std::uint64_t t);

  std::uint64_t last_taken() const { return last_taken_; }
  std::uint64_t last_input() const { return last_input_; }
  const Intent& current() const { return current_; }
  std::size_t pending() const { return pending_.size(); }

 private:
  std::map<std::uint64_t, Intent> pending_;  // every key in (last_taken_, last_taken_ + 64]
  std::uint64_t last_taken_;                 // the tick of the latest take
  std::uint64_t last_input_;                 // the latest tick whose take consumed an intent
  Intent current_;
};

}  // namespace ostrel_core::phys::input

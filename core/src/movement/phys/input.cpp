#include "movement/phys/input.hpp"

namespace ostrel_core::phys::input {

bool InputQueue::offer(std::uint64_t sequence, const Intent& intent) {
  // Written as a difference so that a sequence near 2^64 cannot wrap the window's end.
  if (sequence <= last_taken_ || sequence - last_taken_ > kWindow) return false;
  return pending_.try_emplace(sequence, intent).second;
}

Intent InputQueue::take(std::uint64_t t) {
  bool consumed = false;
  while (!pending_.empty() && pending_.begin()->first <= t) {
    current_ = pending_.begin()->second;
    pending_.erase(pending_.begin());
    consumed = true;
  }
  last_taken_ = t;
  if (consumed) {
    last_input_ = t;
  } else if (t > last_input_ && t - last_input_ > kStopAfterTicks) {
    current_ = Intent{};
  }
  return current_;
}

}  // namespace ostrel_core::phys::input

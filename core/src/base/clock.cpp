#include "base/clock.hpp"

#include <thread>
#include <vector>

namespace ostrel_core::clock {
namespace {

class SteadyClock final : public Clock {
 public:
  Instant now() const override {
    return Instant(std::chrono::duration_cast<Duration>(std::chrono::steady_clock::now().time_since_epoch()));
  }
  void sleep_until(Instant at) const override { std::this_thread::sleep_until(*on_steady(at)); }
  std::optional<std::chrono::steady_clock::time_point> on_steady(Instant at) const override {
    return std::chrono::steady_clock::time_point(
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(at.time_since_epoch()));
  }
  StepWatch on_step(std::function<void()>) const override { return {}; }
};

}  // namespace

const Clock& steady() {
  static const SteadyClock clock;
  return clock;
}

Instant ManualClock::now() const {
  sync::PlainLock lock(mu_);
  return now_;
}

void ManualClock::sleep_until(Instant at) const {
  sync::PlainLock lock(mu_);
  moved_.wait(mu_, [&]() OSTREL_REQUIRES(mu_) { return now_ >= at; });
}

StepWatch ManualClock::on_step(std::function<void()> stepped) const {
  std::uint64_t id = 0;
  {
    sync::PlainLock lock(mu_);
    id = next_watch_++;
    watchers_.emplace(id, std::move(stepped));
  }
  return StepWatch([this, id] {
    sync::PlainLock calls(calling_);
    sync::PlainLock lock(mu_);
    watchers_.erase(id);
  });
}

void ManualClock::advance(Duration by) {
  if (by <= Duration::zero()) return;
  sync::PlainLock calls(calling_);
  std::vector<std::function<void()>*> watchers;
  {
    sync::PlainLock lock(mu_);
    now_ += by;
    for (auto& [id, fn] : watchers_) watchers.push_back(&fn);
  }
  moved_.notify_all();
  // Registration may go on meanwhile (map nodes stay put); removal waits for `calling_`.
  for (auto* fn : watchers) (*fn)();
}

}  // namespace ostrel_core::clock

#include "sim/control.hpp"

#include <algorithm>
#include <limits>
#include <utility>

namespace ostrel_server::sim {
namespace {

void raise_to(std::atomic<std::uint64_t>& a, std::uint64_t v) {
  std::uint64_t seen = a.load(std::memory_order_relaxed);
  while (seen < v && !a.compare_exchange_weak(seen, v, std::memory_order_relaxed)) {
  }
}

}  // namespace

void ControlInner::note_tick(std::chrono::nanoseconds duration) {
  auto us = static_cast<std::uint64_t>(
      std::max<std::int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(duration).count()));
  raise_to(slowest_tick_us_, us);
  if (duration > kTickBudget) overruns_.fetch_add(1, std::memory_order_relaxed);
  if (auto samples = tick_us_.lock(); samples && (*samples)->size() < kMaxTickSamples) {
    (*samples)->push_back(
        static_cast<std::uint32_t>(std::min<std::uint64_t>(us, std::numeric_limits<std::uint32_t>::max())));
  }
}

void ControlInner::note_tick_phases(std::uint64_t duration_us, std::string report) {
  auto g = slowest_report_.lock();
  if (!g) return;
  // Compared under the report's lock so that the kept report and its duration agree.
  if (duration_us <= slowest_report_us_.load(std::memory_order_relaxed)) return;
  slowest_report_us_.store(duration_us, std::memory_order_relaxed);
  **g = std::move(report);
}

std::vector<std::uint32_t> ControlInner::tick_samples() {
  auto g = tick_us_.lock();
  return g ? **g : std::vector<std::uint32_t>{};
}

std::string ControlInner::slowest_report() {
  auto g = slowest_report_.lock();
  return g ? **g : std::string{};
}

}  // namespace ostrel_server::sim

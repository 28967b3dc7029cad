#include "base/clock.hpp"

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel_core::clock {
namespace {

using namespace std::chrono_literals;

TEST(ManualClock, MovesOnlyWhenAdvanced) {
  ManualClock clock;
  const Instant start = clock.now();
  EXPECT_EQ(start.time_since_epoch(), 1s);
  EXPECT_EQ(nanos(start), 1'000'000'000u);
  EXPECT_EQ(clock.now(), start);
  clock.advance(250ms);
  EXPECT_EQ(clock.now(), start + 250ms);
  clock.advance(-5s);  // never backwards
  clock.advance(0ns);
  EXPECT_EQ(clock.now(), start + 250ms);
  EXPECT_FALSE(clock.on_steady(clock.now()).has_value());
}

TEST(ManualClock, WatchersSeeEachStepUntilTheirWatchIsDropped) {
  ManualClock clock;
  std::vector<std::pair<int, Instant>> seen;
  auto first = clock.on_step([&] { seen.emplace_back(1, clock.now()); });
  {
    auto second = clock.on_step([&] { seen.emplace_back(2, clock.now()); });
    clock.advance(1s);
  }
  clock.advance(1s);
  first.reset();
  clock.advance(1s);
  const Instant t0(1s);
  const std::vector<std::pair<int, Instant>> want = {{1, t0 + 1s}, {2, t0 + 1s}, {1, t0 + 2s}};
  EXPECT_EQ(seen, want);
}

TEST(ManualClock, SleepersWakeWhenTheirTimeComes) {
  ManualClock clock;
  const Instant due = clock.now() + 10ms;
  std::atomic<bool> woke = false;
  std::thread sleeper([&] {
    clock.sleep_until(due);
    woke = true;
  });
  clock.advance(9ms);
  EXPECT_FALSE(woke.load());  // time stands still short of `due`, so it cannot have woken
  clock.advance(1ms);
  sleeper.join();
  EXPECT_TRUE(woke.load());
  clock.sleep_until(due - 1s);  // a time already past returns at once
}

TEST(SteadyClock, FollowsTheProcessClockAndNeverSteps) {
  const Clock& clock = steady();
  const auto before = std::chrono::steady_clock::now();
  const Instant now = clock.now();
  const auto after = std::chrono::steady_clock::now();
  const auto on = clock.on_steady(now);
  ASSERT_TRUE(on.has_value());
  EXPECT_LE(before, *on);
  EXPECT_LE(*on, after);
  bool called = false;
  auto watch = clock.on_step([&] { called = true; });
  clock.sleep_until(clock.now() + 1ms);
  EXPECT_FALSE(called);
}

// Threads sleep until scattered instants, others register and drop watchers, while one thread
// steps the clock: every sleeper wakes at or after its instant, and the stepping ends.
TEST(ManualClockStress, SleepersWatchersAndStepsAcrossThreads) {
  ManualClock clock;
  const Instant start = clock.now();
  constexpr int kSteps = 1000;
  std::atomic<bool> stepping = true;
  std::atomic<int> early = 0;
  std::atomic<long> calls = 0;
  auto counted = clock.on_step([&] { ++calls; });
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(static_cast<unsigned>(t));
      for (int i = 0; i < 50; ++i) {
        const Instant due = start + std::chrono::milliseconds(rng() % kSteps + 1);
        clock.sleep_until(due);
        if (clock.now() < due) ++early;
      }
    });
  }
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      while (stepping.load()) {
        auto watch = clock.on_step([] {});
      }
    });
  }
  for (int i = 0; i < kSteps; ++i) clock.advance(1ms);
  stepping = false;
  for (auto& th : threads) th.join();
  EXPECT_EQ(early.load(), 0);
  EXPECT_EQ(clock.now(), start + std::chrono::milliseconds(kSteps));
  EXPECT_EQ(calls.load(), kSteps);  // the watch that lived throughout saw every step once
}

}  // namespace
}  // namespace ostrel_core::clock

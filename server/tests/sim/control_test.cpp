#include "sim/control.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace ostrel_server::sim {
namespace {

using namespace std::chrono_literals;

TEST(Control, OverrunIsATickLongerThanFiftyMilliseconds) {
  struct {
    std::chrono::nanoseconds d;
    std::uint64_t overruns;
  } cases[] = {{49ms, 0}, {50ms, 0}, {50ms + 1ns, 1}, {2s, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.d.count());
    auto control = make_control();
    control->note_tick(c.d);
    EXPECT_EQ(control->overruns(), c.overruns);
    EXPECT_EQ(control->slowest_tick_us(),
              static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(c.d).count()));
  }
}

TEST(Control, SamplesStopAtOneHundredThousandWhileCountersGoOn) {
  auto control = make_control();
  for (std::size_t i = 0; i < kMaxTickSamples; ++i) control->note_tick(1ms);
  control->note_tick(3s);
  auto samples = control->tick_samples();
  ASSERT_EQ(samples.size(), kMaxTickSamples);
  EXPECT_EQ(samples.back(), 1000u);
  EXPECT_EQ(control->slowest_tick_us(), 3'000'000u);
  EXPECT_EQ(control->overruns(), 1u);
}

TEST(Control, SampleSaturatesAtThirtyTwoBits) {
  auto control = make_control();
  control->note_tick(std::chrono::hours(2));  // 7.2e9 microseconds
  EXPECT_EQ(control->tick_samples().at(0), 4'294'967'295u);
  EXPECT_EQ(control->slowest_tick_us(), 7'200'000'000u);
}

TEST(Control, TwoSaveRequestsBeforeTheTakeMakeOneSave) {
  auto control = make_control();
  EXPECT_FALSE(control->take_save_request());
  control->request_save();
  control->request_save();
  EXPECT_TRUE(control->take_save_request());
  EXPECT_FALSE(control->take_save_request());
}

TEST(Control, StopStaysSetAndPauseStartsClear) {
  auto control = make_control();
  auto other = control;  // a clone shares the block
  EXPECT_FALSE(control->paused());
  EXPECT_FALSE(other->stop_requested());
  control->request_stop();
  EXPECT_TRUE(other->stop_requested());
  EXPECT_TRUE(other->stop_flag().load());
}

TEST(Control, KeepsTheReportOfTheSlowestOverBudgetTick) {
  auto control = make_control();
  control->note_tick_phases(60'000, "sixty");
  control->note_tick_phases(55'000, "fifty-five");
  EXPECT_EQ(control->slowest_report(), "sixty");
  control->note_tick_phases(70'000, "seventy");
  EXPECT_EQ(control->slowest_report(), "seventy");
}

TEST(ControlStress, ReadersSeeCountersRiseWhileTheLoopWrites) {
  auto control = make_control();
  std::atomic<bool> done{false};
  std::atomic<bool> fell{false};
  std::atomic<int> started{0};
  std::vector<std::thread> readers;
  for (int r = 0; r < 3; ++r) {
    readers.emplace_back([&] {
      control->request_save();
      ++started;
      std::uint64_t last_slowest = 0, last_ticks = 0;
      while (!done.load()) {
        auto s = control->slowest_tick_us();
        auto t = control->ticks();
        if (s < last_slowest || t < last_ticks) fell = true;
        last_slowest = s;
        last_ticks = t;
        control->request_save();
        (void)control->tick_samples();
      }
    });
  }
  while (started.load() < 3) std::this_thread::yield();
  std::uint64_t saves = 0;
  for (std::uint64_t i = 1; i <= 5000; ++i) {
    control->note_tick(std::chrono::microseconds(i));
    control->set_ticks(i);
    saves += control->take_save_request();
  }
  done = true;
  for (auto& t : readers) t.join();
  saves += control->take_save_request();
  EXPECT_FALSE(fell);
  EXPECT_GE(saves, 1u);
  EXPECT_EQ(control->slowest_tick_us(), 5000u);
  EXPECT_EQ(control->tick_samples().size(), 5000u);
}

}  // namespace
}  // namespace ostrel_server::sim

// The load watch: when a streak of saturated looks reports, what resets it, and the warning.

#include "worldgen/lag.hpp"

#include <gtest/gtest.h>

#include "support/log_capture.hpp"

namespace ostrel_server::worldgen {
namespace {

using ostrel_core::clock::Duration;
using ostrel_core::clock::Instant;
using std::chrono::milliseconds;
using std::chrono::seconds;

Instant at(Duration d) { return Instant(d); }

// One look of a table: the instant, the busy total, workers, waiting, and the report wanted
// (looks 0: none).
struct Look {
  Duration now;
  Duration busy;
  std::size_t workers;
  std::size_t waiting;
  std::uint32_t looks;
  Duration behind;
  std::uint64_t percent;
};

void run_looks(std::initializer_list<Look> looks) {
  Lag lag;
  int i = 0;
  for (const Look& l : looks) {
    SCOPED_TRACE(i++);
    const auto got = lag.look(at(l.now), l.busy, l.workers, l.waiting);
    if (l.looks == 0) {
      EXPECT_FALSE(got.has_value());
      continue;
    }
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->looks, l.looks);
    EXPECT_EQ(got->behind, l.behind);
    EXPECT_EQ(got->busy_percent, l.percent);
  }
}

TEST(Lag, ReportsFromTheThirdSaturatedLook) {
  run_looks({{seconds(0), seconds(0), 2, 5, 0, {}, 0},
             {seconds(1), seconds(2), 2, 5, 0, {}, 0},
             {seconds(2), seconds(4), 2, 5, 0, {}, 0},
             {seconds(3), seconds(6), 2, 5, 3, seconds(3), 100},
             {seconds(4), seconds(8), 2, 5, 4, seconds(4), 100}});
}

TEST(Lag, NobodyWaitingResetsTheStreak) {
  run_looks({{seconds(0), seconds(0), 1, 5, 0, {}, 0},
             {seconds(1), seconds(1), 1, 5, 0, {}, 0},
             {seconds(2), seconds(2), 1, 5, 0, {}, 0},
             {seconds(3), seconds(3), 1, 0, 0, {}, 0},  // waiting 0
             {seconds(4), seconds(4), 1, 5, 0, {}, 0},
             {seconds(5), seconds(5), 1, 5, 0, {}, 0},
             {seconds(6), seconds(6), 1, 5, 3, seconds(3), 100}});
}

TEST(Lag, NinetyPercentSaturatesEightyNineResets) {
  run_looks({{seconds(0), seconds(0), 1, 1, 0, {}, 0},
             {seconds(1), milliseconds(900), 1, 1, 0, {}, 0},
             {seconds(2), milliseconds(1800), 1, 1, 0, {}, 0},
             {seconds(3), milliseconds(2700), 1, 1, 3, seconds(3), 90},
             {seconds(4), milliseconds(3590), 1, 1, 0, {}, 0},  // 89 %
             {seconds(5), milliseconds(4490), 1, 1, 0, {}, 0}});
}

TEST(Lag, BusyBeyondCapacityCapsAtAHundredAndEqualInstantsReset) {
  run_looks({{seconds(0), seconds(0), 1, 1, 0, {}, 0},
             {seconds(1), seconds(5), 1, 1, 0, {}, 0},
             {seconds(2), seconds(10), 1, 1, 0, {}, 0},
             {seconds(3), seconds(50), 1, 1, 3, seconds(3), 100},
             {seconds(3), seconds(60), 1, 1, 0, {}, 0},  // the same instant
             {seconds(4), seconds(70), 1, 1, 0, {}, 0},
             {seconds(5), seconds(80), 0, 1, 0, {}, 0},    // no workers
             {seconds(4), seconds(90), 1, 1, 0, {}, 0}});  // the clock went back
}

TEST(Lag, TheWarningCarriesTheMeanWithOneDecimal) {
  EXPECT_EQ(mean_ms({}), "0.0");
  EXPECT_EQ(mean_ms({12'345}), "12.3");
  EXPECT_EQ(mean_ms({1'000, 2'000, 4'001}), "2.3");
  ostrel_core::test::LogCapture logs;
  warn_behind(LagReport{milliseconds(7'900), 97, 5}, 40, 8, {12'345}, 4);
  ASSERT_EQ(logs.lines().size(), 1u);
  EXPECT_NE(
      logs.lines()[0].find(
          " WARN ostrel_server::worldgen: generation behind: 40 chunks waiting, 8 in flight, 12.3 ms/chunk — "
          "4 "
          "workers generating 97% of the time for 7 s waiting=40 in_flight=8 ms_per_chunk=\"12.3\" workers=4 "
          "busy_percent=97 behind_seconds=7"),
      std::string::npos)
      << logs.lines()[0];
}

}  // namespace
}  // namespace ostrel_server::worldgen

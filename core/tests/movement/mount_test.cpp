#include "movement/ent/mount.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "detgen/trig.hpp"

namespace ostrel_core::ent::mount {
namespace {

TEST(SeatOffset, TurnsWithTheMountUpToTableRounding) {
  using detgen::trig::kHalfPi;
  using detgen::trig::kPi;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // A seat straight above never turns, whatever the yaw.
  for (const float yaw : {0.0f, kHalfPi, 1.0f, -kPi, 1e30f, nan}) {
    const auto s = seat_offset({0.0f, 4.5f, 0.0f}, yaw);
    EXPECT_EQ(s, (std::array<float, 3>{0.0f, 4.5f, 0.0f})) << yaw;
  }
  struct Case {
    std::array<float, 3> seat;
    float yaw;
    std::array<float, 3> at;
  };
  const Case cases[] = {
      {{0, 0, 3}, kHalfPi, {3, 0, 0}},
      {{0, 1, 3}, kPi, {0, 1, -3}},
      {{2, 0, 0}, kHalfPi, {0, 0, -2}},
      {{2, 0, 0}, 0.0f, {2, 0, 0}},
  };
  for (const auto& c : cases) {
    const auto s = seat_offset(c.seat, c.yaw);
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(s[a], c.at[a], 1e-5) << c.yaw << " axis " << a;
  }
  // A non-finite yaw reads 0 for both sine and cosine: the seat collapses onto the axis, never NaN.
  const auto s = seat_offset({1.0f, 2.0f, 3.0f}, nan);
  EXPECT_EQ(s, (std::array<float, 3>{0.0f, 2.0f, 0.0f}));
}

}  // namespace
}  // namespace ostrel_core::ent::mount

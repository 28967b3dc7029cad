#include "detgen/trig.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <numbers>

#include "detgen/trig_tables.hpp"

namespace ostrel_core::detgen::trig {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// True when f is the single nearest to v: neither neighbour of f is closer.
bool nearest_single(long double v, float f) {
  const long double d = std::fabs(v - static_cast<long double>(f));
  const float up = std::nextafter(f, kInf);
  const float down = std::nextafter(f, -kInf);
  return d <= std::fabs(v - static_cast<long double>(up)) &&
         d <= std::fabs(v - static_cast<long double>(down));
}

TEST(TrigTables, EveryEntryIsCorrectlyRounded) {
  const long double pi = std::numbers::pi_v<long double>;
  for (int i = 0; i <= 256; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(nearest_single(std::sin(static_cast<long double>(i) * pi / 512.0L),
                               std::bit_cast<float>(kSinQuarterBits[i])));
    EXPECT_TRUE(nearest_single(std::atan(static_cast<long double>(i) / 256.0L),
                               std::bit_cast<float>(kAtanUnitBits[i])));
  }
  EXPECT_EQ(kSinQuarterBits[0], 0u);
  EXPECT_EQ(std::bit_cast<float>(kSinQuarterBits[256]), 1.0f);
  EXPECT_EQ(kAtanUnitBits[256], 0x3F490FDBu);  // 0.7853982
}

TEST(Trig, EdgeValues) {
  struct Case {
    const char* name;
    float got;
    float want;
  };
  const Case cases[] = {
      {"sin 0", sin(0.0f), 0.0f},
      {"sin half pi", sin(kHalfPi), 1.0f},
      {"sin -half pi", sin(-kHalfPi), -1.0f},
      {"cos 0", cos(0.0f), 1.0f},
      {"sin inf", sin(kInf), 0.0f},
      {"sin -inf", sin(-kInf), 0.0f},
      {"sin NaN", sin(kNaN), 0.0f},
      {"cos inf", cos(kInf), 0.0f},
      {"cos NaN", cos(kNaN), 0.0f},
      {"atan2 0 0", atan2(0.0f, 0.0f), 0.0f},
      {"atan2 0 -1", atan2(0.0f, -1.0f), kPi},
      {"atan2 -0 -1", atan2(-0.0f, -1.0f), kPi},
      {"atan2 1 0", atan2(1.0f, 0.0f), kHalfPi},
      {"atan2 -1 0", atan2(-1.0f, 0.0f), -kHalfPi},
      {"atan2 1 1", atan2(1.0f, 1.0f), std::bit_cast<float>(kAtanUnitBits[256])},
      {"atan2 inf 1", atan2(kInf, 1.0f), 0.0f},
      {"atan2 1 -inf", atan2(1.0f, -kInf), 0.0f},
      {"atan2 NaN 1", atan2(kNaN, 1.0f), 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(c.got), std::bit_cast<std::uint32_t>(c.want));
  }
  // Non-finite angles give +0, never -0.
  EXPECT_FALSE(std::signbit(sin(-kInf)));
}

TEST(Trig, FollowsThePlatformWithinTheTableError) {
  // Interpolation error below (2 pi / 1024)^2 / 8, plus the gap between kTau and 2 pi per turn.
  for (int i = -4000; i <= 4000; ++i) {
    const float x = static_cast<float>(i) * 0.0123f;
    SCOPED_TRACE(x);
    ASSERT_NEAR(sin(x), std::sin(static_cast<double>(x)), 1e-5);
    ASSERT_NEAR(cos(x), std::cos(static_cast<double>(x)), 1e-5);
    const float y = static_cast<float>((i * 37) % 201 - 100) * 0.37f;
    ASSERT_NEAR(atan2(y, x), std::atan2(static_cast<double>(y), static_cast<double>(x)), 1e-5);
  }
}

TEST(Trig, AngleRoundedUpToATurnIsZero) {
  // fmod leaves a tiny negative angle; adding the turn rounds to kTau itself.
  EXPECT_EQ(sin(-1e-9f), 0.0f);
  EXPECT_EQ(sin(kTau), sin(0.0f));
}

}  // namespace
}  // namespace ostrel_core::detgen::trig

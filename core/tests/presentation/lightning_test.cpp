#include "presentation/lightning.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ostrel_core::lightning {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

LightningRequest bolt(std::array<double, 3> from, std::array<double, 3> to) {
  LightningRequest r;
  r.lightning.from = from;
  r.lightning.to = to;
  return r;
}

TEST(Lightning, LengthIsCutToTheLimitAlongItsDirection) {
  auto out = sanitise_lightning(bolt({0, 200, 0}, {0, -10000, 0}));
  EXPECT_EQ(out.lightning.from, (std::array<double, 3>{0, 200, 0}));
  EXPECT_EQ(out.lightning.to, (std::array<double, 3>{0, -3896, 0}));

  out = sanitise_lightning(bolt({0, 0, 0}, {3000, 0, 4000}));  // 5000 long
  EXPECT_NEAR(out.lightning.to[0], 3000.0 * 4096 / 5000, 1e-9);
  EXPECT_NEAR(out.lightning.to[2], 4000.0 * 4096 / 5000, 1e-9);
  const auto& t = out.lightning.to;
  EXPECT_NEAR(std::sqrt(t[0] * t[0] + t[1] * t[1] + t[2] * t[2]), 4096.0, 1e-9);

  // Exactly 4096 stays.
  out = sanitise_lightning(bolt({0, 4096, 0}, {0, 0, 0}));
  EXPECT_EQ(out.lightning.to, (std::array<double, 3>{0, 0, 0}));
}

TEST(Lightning, CoordinatesClampAndNonFiniteEndsFollowFrom) {
  auto out = sanitise_lightning(bolt({1e9, kNaN, -kInf}, {kNaN, 10, kInf}));
  EXPECT_EQ(out.lightning.from, (std::array<double, 3>{64096, 0, 0}));
  // x takes from's clamped x; +inf is not finite, so it takes from's z, not the bound.
  EXPECT_EQ(out.lightning.to, (std::array<double, 3>{64096, 10, 0}));
  out = sanitise_lightning(bolt({-1e300, 0, 0}, {-1e300, 0, 0}));
  EXPECT_EQ(out.lightning.from[0], -64096.0);
  EXPECT_EQ(out.lightning.to[0], -64096.0);
}

TEST(Lightning, DrawingFieldsAndRadiusClamp) {
  struct Case {
    std::array<float, 3> colour;
    float width;
    std::uint8_t branches;
    std::uint16_t ticks;
    float radius;
    std::array<float, 3> colour_out;
    float width_out;
    std::uint8_t branches_out;
    std::uint16_t ticks_out;
    float radius_out;
  };
  constexpr float fnan = std::numeric_limits<float>::quiet_NaN();
  constexpr float finf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {{3, 0.8f, 1}, 20, 20, 0, 5000, {2, 0.8f, 1}, 8, 8, 1, 1024},
      {{fnan, fnan, fnan}, fnan, 0, 500, fnan, {0.85f, 0.8f, 1.0f}, 0.4f, 0, 200, 256},
      {{-1, finf, 0.5f}, -2, 8, 200, -1, {0, 0.8f, 0.5f}, 0, 8, 200, 0},
      {{0.1f, 0.2f, 0.3f}, 1, 3, 8, 300, {0.1f, 0.2f, 0.3f}, 1, 3, 8, 300},
  };
  for (const Case& c : cases) {
    LightningRequest r = bolt({0, 0, 0}, {0, -10, 0});
    r.domain = "caves";
    r.lightning.seed = 77;
    r.player = identity::PlayerUuid{};
    r.lightning.colour = c.colour;
    r.lightning.width = c.width;
    r.lightning.branches = c.branches;
    r.lightning.ticks = c.ticks;
    r.radius = c.radius;
    const auto out = sanitise_lightning(r);
    EXPECT_EQ(out.lightning.colour, c.colour_out);
    EXPECT_EQ(out.lightning.width, c.width_out);
    EXPECT_EQ(out.lightning.branches, c.branches_out);
    EXPECT_EQ(out.lightning.ticks, c.ticks_out);
    EXPECT_EQ(out.radius, c.radius_out);
    EXPECT_EQ(out.domain, "caves");
    EXPECT_EQ(out.lightning.seed, 77u);
    EXPECT_TRUE(out.player.has_value());
  }
}

TEST(Lightning, EngineSeedGoldens) {
  const std::array<double, 3> from{0, 200, 0};
  const std::array<double, 3> to{0, -10000, 0};
  EXPECT_EQ(engine_seed(0, from, to), 0x7FEADE909F094989ull);
  EXPECT_EQ(engine_seed(1, from, to), 0x049B7DE809D53B16ull);
  // Every coordinate counts, -0.0 apart from 0.
  EXPECT_NE(engine_seed(0, from, to), engine_seed(0, from, {0, -10000, 1}));
  EXPECT_NE(engine_seed(0, from, to), engine_seed(0, {-0.0, 200, 0}, to));
  EXPECT_NE(engine_seed(0, from, to), engine_seed(0, to, from));
}

}  // namespace
}  // namespace ostrel_core::lightning

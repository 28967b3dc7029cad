#include "movement/sight.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace ostrel_core::sight {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(SightFrame, DistanceLimitAndNonFinitePoints) {
  struct Case {
    const char* what;
    Vec3d from, to;
    bool framed;
  };
  const Case cases[] = {
      {"exactly 64 blocks", {0, 0, 0}, {64, 0, 0}, true},
      {"64 blocks on a diagonal", {1, 2, 3}, {1, 2 + 38.4, 3 + 51.2}, true},
      {"64.001 blocks", {0, 0, 0}, {64.001, 0, 0}, false},
      {"NaN", {kNaN, 0, 0}, {0, 0, 0}, false},
      {"infinite end", {0, 0, 0}, {0, -kInf, 0}, false},
      {"huge but equal", {1e300, 1e300, 1e300}, {1e300, 1e300, 1e300}, true},
  };
  for (const auto& c : cases) EXPECT_EQ(frame(c.from, c.to).has_value(), c.framed) << c.what;
}

TEST(SightFrame, BothPointsInTheFirstPointsChunk) {
  const auto f = frame({-0.5, 17.25, 31.0}, {20.0, 17.25, 31.0});
  ASSERT_TRUE(f.has_value());
  EXPECT_EQ(f->chunk, (ChunkPos{-1, 1, 1}));
  EXPECT_EQ(f->from, (Vec3f{46.5f, 3.75f, 45.0f}));
  EXPECT_EQ(f->to, (Vec3f{108.0f, 3.75f, 45.0f}));  // past the chunk's 48 cells
  // A huge coordinate saturates its chunk instead of overflowing.
  const auto far = frame({1e300, 0, 0}, {1e300, 0, 0});
  ASSERT_TRUE(far.has_value());
  EXPECT_EQ(far->chunk.x, INT32_MAX);
}

TEST(SightLook, TurnsToDirections) {
  struct Case {
    float yaw, pitch;
    Vec3f dir;
  };
  const Case cases[] = {
      {0.0f, 0.0f, {0, 0, 1}},                               // yaw 0 looks along +z
      {0.25f, 0.0f, {-1, 0, 0}},                             // a positive yaw turns toward -x
      {0.5f, 0.0f, {0, 0, -1}},   {0.0f, 0.25f, {0, 1, 0}},  // a positive pitch looks up
      {0.0f, -0.25f, {0, -1, 0}},
  };
  for (const auto& c : cases) {
    const Vec3f d = look_direction(c.yaw, c.pitch);
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(d[a], c.dir[a], 1e-5) << c.yaw << " " << c.pitch << " axis " << a;
  }
  // A non-finite facing reads 0 from the tables: no direction, never a NaN one.
  const Vec3f nan =
      look_direction(std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity());
  for (const float v : nan) EXPECT_EQ(v, 0.0f);
}

}  // namespace
}  // namespace ostrel_core::sight

#include "detgen/map.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace ostrel_core::detgen::map {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

Map make(std::uint32_t side, std::uint32_t scale = 1, std::int32_t ox = 0, std::int32_t oz = 0) {
  auto m = Map::create(side, scale, ox, oz);
  EXPECT_TRUE(m);
  return std::move(*m);
}

// A map whose sample (c, r) is 100 r + c.
Map ramp(std::uint32_t side, std::uint32_t scale = 1, std::int32_t ox = 0, std::int32_t oz = 0) {
  Map m = make(side, scale, ox, oz);
  for (std::uint32_t r = 0; r < side; ++r) {
    for (std::uint32_t c = 0; c < side; ++c) m.samples[r * side + c] = static_cast<float>(100 * r + c);
  }
  return m;
}

TEST(MapError, Texts) {
  struct Case {
    std::expected<Map, MapError> got;
    MapError want;
    const char* text;
  };
  const Case cases[] = {
      {Map::create(1025, 1, 0, 0),
       {MapErrorKind::SideOutOfRange, 1025},
       "a map may be 1 to 1024 samples a side, not 1025"},
      {Map::create(0, 0, 0, 0),
       {MapErrorKind::SideOutOfRange, 0},
       "a map may be 1 to 1024 samples a side, not 0"},
      {Map::create(5, 0, 0, 0),
       {MapErrorKind::ScaleTooSmall},
       "a map's scale must be at least one block a sample"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    ASSERT_FALSE(c.got);
    EXPECT_EQ(c.got.error(), c.want);
    EXPECT_EQ(c.got.error().message(), c.text);
  }
  Map a = make(256);
  const auto mismatch = a.combine(make(128), CombineWay::Add);
  ASSERT_FALSE(mismatch);
  EXPECT_EQ(mismatch.error().message(), "maps must match to combine: 256 x 256 against 128 x 128");
  Map one = make(1);
  const auto wide = one.blur(1);
  ASSERT_FALSE(wide);
  EXPECT_EQ(wide.error(), (MapError{MapErrorKind::BlurTooWide, 1, 1}));
  EXPECT_EQ(wide.error().message(), "a blur radius of 1 is wider than a map 1 samples across");
  EXPECT_EQ(one.revision, 0u);
}

TEST(MapSample, ExactAtSamplesFlatOutsideBilinearBetween) {
  const Map m = ramp(4, 8, -16, 40);
  for (std::int32_t r = 0; r < 4; ++r) {
    for (std::int32_t c = 0; c < 4; ++c) EXPECT_EQ(m.sample(-16 + 8 * c, 40 + 8 * r), 100.0f * r + c);
  }
  // Halfway along x and a quarter along z from sample (1, 2).
  EXPECT_EQ(m.sample(-16 + 8 + 4, 40 + 16 + 2), 226.5f);
  // Far outside: the nearest edge or corner sample.
  EXPECT_EQ(m.sample(-1000000, -1000000), 0.0f);
  EXPECT_EQ(m.sample(1000000, 40 + 8), 103.0f);
  EXPECT_EQ(m.sample(INT32_MAX - 16, INT32_MAX), 303.0f);
  // Differences wrap in 32 bits: INT32_MAX - (-16) lands far west, INT32_MIN - 40 far south.
  EXPECT_EQ(m.sample(INT32_MAX, INT32_MAX), 300.0f);
  EXPECT_EQ(m.sample(INT32_MIN, INT32_MIN), 300.0f);
  EXPECT_EQ(m.sample(INT32_MIN, 0), 0.0f);
  Map single = make(1, 3, 7, 7);
  single.samples[0] = -4.5f;
  for (std::int32_t v : {INT32_MIN, -1, 0, 7, 8, INT32_MAX}) EXPECT_EQ(single.sample(v, -(v / 2)), -4.5f);
}

TEST(MapHeightmap, FloorsColumnsInRowOrder) {
  struct Case {
    float value;
    std::int32_t want;
  };
  // A map of infinities reads NaN (inf - inf between neighbours), so 0.
  const Case cases[] = {{2.9f, 2}, {-0.5f, -1}, {kNaN, 0}, {kInf, 0}, {3e9f, INT32_MAX}, {-3e9f, INT32_MIN}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    Map m = make(2);
    m.samples.assign(4, c.value);
    for (std::int32_t h : m.heightmap(3, -7)) ASSERT_EQ(h, c.want);
  }
  // Index c + 16 r reads block (16 cx + c, 16 cz + r).
  const Map m = ramp(64);
  const auto h = m.heightmap(1, 2);
  EXPECT_EQ(h[0], 100 * 32 + 16);
  EXPECT_EQ(h[5 + 16 * 3], 100 * 35 + 21);
  // Interpolation that overflows gives the 32-bit limits: block (1, 1) lies halfway between a
  // row of ones and a row of opposite extremes.
  Map over = make(2, 2);
  over.samples = {1.0f, 1.0f, 3e38f, -3e38f};
  EXPECT_EQ(over.heightmap(0, 0)[1 + 16 * 1], INT32_MIN);
  over.samples = {1.0f, 1.0f, -3e38f, 3e38f};
  EXPECT_EQ(over.heightmap(0, 0)[1 + 16 * 1], INT32_MAX);
  // Chunk coordinates whose block position wraps in 32 bits stay defined.
  const auto edge = m.heightmap(INT32_MAX, INT32_MIN);
  EXPECT_EQ(edge.size(), 256u);
}

TEST(MapNoise, FillsEachSampleAtItsWorldPosition) {
  Map m = make(8, 4, -20, 36);
  const noise::NoiseOptions o{3, 0.03f, 2.0f, 0.5f, noise::Shaping::Plain};
  m.noise(77, o, 2.5f);
  EXPECT_EQ(m.revision, 1u);
  std::vector<float> want(64);
  ASSERT_TRUE(noise::fill_2d(77, {8, 8, -20.0f, 36.0f, 4.0f, 4.0f}, o, want));
  for (std::size_t k = 0; k < 64; ++k) EXPECT_EQ(m.samples[k], want[k] * 2.5f) << k;
}

TEST(MapBlur, RadiusZeroAndConstantMaps) {
  Map m = make(16);
  m.samples.assign(256, 1.0f);
  ASSERT_TRUE(m.blur(0));
  EXPECT_EQ(m.revision, 0u);
  ASSERT_TRUE(m.blur(3));
  EXPECT_EQ(m.revision, 1u);
  for (float v : m.samples) ASSERT_EQ(v, 1.0f);
  EXPECT_FALSE(m.blur(16));
  EXPECT_TRUE(m.blur(15));
}

TEST(MapBlur, EdgesRepeatTheEdgeSample) {
  Map m = make(4);
  m.samples = {0, 0, 0, 9, 0, 0, 0, 9, 0, 0, 0, 9, 0, 0, 0, 9};
  ASSERT_TRUE(m.blur(1));
  // Row pass: column 3 averages (0, 9, 9) and column 2 (0, 0, 9); columns then hold constants.
  for (std::uint32_t r = 0; r < 4; ++r) {
    EXPECT_EQ(m.samples[r * 4 + 0], 0.0f);
    EXPECT_EQ(m.samples[r * 4 + 2], 9.0f / 3.0f);
    EXPECT_EQ(m.samples[r * 4 + 3], 18.0f / 3.0f);
  }
}

TEST(MapCombine, EachWayWithNaN) {
  struct Case {
    CombineWay way;
    float a, b, want;
  };
  const Case cases[] = {
      {CombineWay::Add, 1.5f, 2.0f, 3.5f},   {CombineWay::Mul, 1.5f, -2.0f, -3.0f},
      {CombineWay::Min, 1.5f, -2.0f, -2.0f}, {CombineWay::Max, 1.5f, -2.0f, 1.5f},
      {CombineWay::Min, kNaN, 4.0f, 4.0f},   {CombineWay::Min, 4.0f, kNaN, 4.0f},
      {CombineWay::Max, kNaN, -4.0f, -4.0f}, {CombineWay::Max, -4.0f, kNaN, -4.0f},
      {CombineWay::Min, 0.0f, -0.0f, 0.0f},  {CombineWay::Min, -0.0f, 0.0f, -0.0f},
      {CombineWay::Max, -0.0f, 0.0f, -0.0f},
  };
  for (const auto& c : cases) {
    Map a = make(2), b = make(2, 9, 100, -100);  // scale and origin are not compared
    a.samples.assign(4, c.a);
    b.samples.assign(4, c.b);
    ASSERT_TRUE(a.combine(b, c.way));
    EXPECT_EQ(a.revision, 1u);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(a.samples[3]), std::bit_cast<std::uint32_t>(c.want))
        << static_cast<int>(c.way) << " " << c.a << " " << c.b;
  }
  Map a = make(2);
  Map n = make(2);
  n.samples.assign(4, kNaN);
  ASSERT_TRUE(a.combine(n, CombineWay::Add));
  EXPECT_TRUE(std::isnan(a.samples[0]));
}

TEST(MapRangeOver, RectangleUpTo4096SamplesThenWholeMap) {
  // Extremes outside the rectangle: -1000 at (0, 0) and 5000 at (255, 255).
  Map m = ramp(256);
  m.samples[0] = -1000.0f;
  m.samples[255 * 256 + 255] = 50000.0f;
  // Blocks 10..72 on x read columns 10..73 (64 of them): 64 x 64 samples.
  const auto in = m.range_over(72, 10, 20, 82);
  EXPECT_EQ(in.low, 100.0f * 20 + 10);
  EXPECT_EQ(in.high, 100.0f * 83 + 73);
  // One more column: 65 x 64, the whole map.
  const auto whole = m.range_over(10, 73, 20, 82);
  EXPECT_EQ(whole.low, -1000.0f);
  EXPECT_EQ(whole.high, 50000.0f);
}

TEST(MapRangeOver, NaNSamplesArePassedOver) {
  Map m = make(4);
  m.samples.assign(16, kNaN);
  auto all_nan = m.range_over(0, 3, 0, 3);
  EXPECT_EQ(all_nan.low, kInf);
  EXPECT_EQ(all_nan.high, -kInf);
  m.samples[5] = 2.0f;
  m.samples[6] = -3.0f;
  const auto r = m.range_over(0, 3, 0, 3);
  EXPECT_EQ(r.low, -3.0f);
  EXPECT_EQ(r.high, 2.0f);
}

TEST(MapRangeOver, BoundsEverySampleAtTheCoordinateExtremes) {
  // Origins and rectangles at the 32-bit limits, where the position differences wrap.
  struct Case {
    std::int32_t ox, oz, x_a, x_b, z_a, z_b;
    std::uint32_t scale;
  };
  const Case cases[] = {
      {0, 0, INT32_MAX - 3, INT32_MAX, INT32_MIN, INT32_MIN + 5, 1},
      {INT32_MIN, INT32_MAX, INT32_MIN, INT32_MIN + 40, INT32_MAX - 40, INT32_MAX, 1},
      {1, -1, INT32_MIN, INT32_MIN + 2, INT32_MAX, INT32_MAX - 2, 3},  // wrapped: whole map
      {-5, 5, -10, 200, -200, 10, 7},
      {0, 0, INT32_MIN, INT32_MAX, 0, 0, UINT32_MAX},
  };
  Map m = make(32);
  for (std::size_t k = 0; k < m.samples.size(); ++k)
    m.samples[k] = std::sin(static_cast<float>(k) * 0.7f) * 100.0f;
  for (const auto& c : cases) {
    m.scale = c.scale;
    m.origin_x = c.ox;
    m.origin_z = c.oz;
    const auto r = m.range_over(c.x_a, c.x_b, c.z_a, c.z_b);
    const std::int64_t xs[] = {c.x_a, c.x_b, (std::int64_t{c.x_a} + c.x_b) / 2, std::min(c.x_a, c.x_b) + 1};
    const std::int64_t zs[] = {c.z_a, c.z_b, (std::int64_t{c.z_a} + c.z_b) / 2, std::max(c.z_a, c.z_b) - 1};
    for (std::int64_t x : xs) {
      for (std::int64_t z : zs) {
        const float v = m.sample(static_cast<std::int32_t>(x), static_cast<std::int32_t>(z));
        EXPECT_LE(r.low, v) << x << " " << z;
        EXPECT_GE(r.high, v) << x << " " << z;
      }
    }
  }
}

}  // namespace
}  // namespace ostrel_core::detgen::map

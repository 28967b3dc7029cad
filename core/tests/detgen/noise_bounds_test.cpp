#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "detgen/noise.hpp"
#include "detgen/rng.hpp"

namespace ostrel_core::detgen::noise {
namespace {

std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

struct Box {
  float x0, x1, y0, y1, z0, z1;
};

class Draw {
 public:
  explicit Draw(const char* label) : r_(42, {0, 0, 0}, label) {}
  float uniform(float lo, float hi) { return lo + (hi - lo) * r_.next_f32(); }
  std::uint64_t u64() { return r_.next_u64(); }
  Box box(float reach, float size) {
    const float x = uniform(-reach, reach), y = uniform(-reach, reach), z = uniform(-reach, reach);
    return {x, x + uniform(0, size), y, y + uniform(0, size), z, z + uniform(0, size)};
  }

 private:
  rng::StreamRng r_;
};

TEST(SimplexBounds, HoldEveryPointOfSmallBoxes) {
  Draw d("simplex-boxes");
  int bounded = 0;
  for (int i = 0; i < 2000; ++i) {
    const Box b = d.box(500.0f, 2.5f);
    const std::uint64_t seed = d.u64();
    const auto r = simplex_3d_bounds(seed, b.x0, b.x1, b.y0, b.y1, b.z0, b.z1);
    if (!r) continue;
    ++bounded;
    ASSERT_LE(r->low, r->high);
    ASSERT_GE(r->low, -kOctaveBound);
    ASSERT_LE(r->high, kOctaveBound);
    for (int k = 0; k < 40; ++k) {
      const float v = simplex_3d(seed, d.uniform(b.x0, b.x1), d.uniform(b.y0, b.y1), d.uniform(b.z0, b.z1));
      ASSERT_LE(r->low, v) << i;
      ASSERT_GE(r->high, v) << i;
    }
    // The corners themselves, where rounding is most likely to bite.
    for (float x : {b.x0, b.x1}) {
      for (float z : {b.z0, b.z1}) {
        const float v = simplex_3d(seed, x, b.y0, z);
        ASSERT_LE(r->low, v);
        ASSERT_GE(r->high, v);
      }
    }
  }
  EXPECT_GT(bounded, 1500);  // small boxes mostly get a bound
}

TEST(SimplexBounds, TightOnTinyBoxes) {
  // A box a hundredth of a cell wide bounds the noise closely.
  Draw d("tiny");
  for (int i = 0; i < 200; ++i) {
    const float x = d.uniform(-50, 50), y = d.uniform(-50, 50), z = d.uniform(-50, 50);
    const auto r = simplex_3d_bounds(9, x, x + 0.01f, y, y + 0.01f, z, z + 0.01f);
    ASSERT_TRUE(r);
    EXPECT_LT(r->high - r->low, 0.5f);
  }
}

TEST(SimplexBounds, MoreThan64CellsGiveNone) {
  EXPECT_FALSE(simplex_3d_bounds(1, 0, 100, 0, 1, 0, 1));
  EXPECT_FALSE(simplex_3d_bounds(1, 0, 3.5f, 0, 3.5f, 0, 3.5f));
  EXPECT_TRUE(simplex_3d_bounds(1, 0, 1.2f, 0, 1.2f, 0, 1.2f));
  const NoiseOptions one{1, 1.0f, 2.0f, 0.5f, Shaping::Plain};
  const Interval r = fractal_3d_bounds(1, one, 0, 100, 0, 1, 0, 1);
  EXPECT_EQ(r.low, -3.7815f);
  EXPECT_EQ(r.high, 3.7815f);
  EXPECT_EQ(bits(kOctaveBound), 0x40720419u);
  // Coordinates past the clamp collapse onto it: a box out there is small again.
  EXPECT_TRUE(simplex_3d_bounds(1, 1e9f, 2e9f, 0, 1, 0, 1));
}

TEST(SimplexBounds, ReversedLimitsGiveTheSameBound) {
  Draw d("reversed");
  for (int i = 0; i < 100; ++i) {
    const Box b = d.box(200.0f, 2.0f);
    const auto a = simplex_3d_bounds(3, b.x0, b.x1, b.y0, b.y1, b.z0, b.z1);
    const auto r = simplex_3d_bounds(3, b.x1, b.x0, b.y1, b.y0, b.z1, b.z0);
    ASSERT_EQ(a.has_value(), r.has_value());
    if (a) {
      EXPECT_EQ(bits(a->low), bits(r->low));
      EXPECT_EQ(bits(a->high), bits(r->high));
    }
    const NoiseOptions o{4, 0.1f, 2.0f, 0.5f, Shaping::Ridged};
    const Interval fa = fractal_3d_bounds(5, o, b.x0, b.x1, b.y0, b.y1, b.z0, b.z1);
    const Interval fr = fractal_3d_bounds(5, o, b.x1, b.x0, b.y1, b.y0, b.z1, b.z0);
    EXPECT_EQ(bits(fa.low), bits(fr.low));
    EXPECT_EQ(bits(fa.high), bits(fr.high));
  }
  // A NaN limit yields to the other one.
  const auto half = simplex_3d_bounds(3, std::nanf(""), 10.5f, 1, 1, 2, 2);
  const auto point = simplex_3d_bounds(3, 10.5f, 10.5f, 1, 1, 2, 2);
  ASSERT_TRUE(half && point);
  EXPECT_EQ(bits(half->low), bits(point->low));
}

TEST(FractalBounds, OneOctaveIsTheScaledSimplexBound) {
  Draw d("one-octave");
  for (int i = 0; i < 100; ++i) {
    const Box b = d.box(300.0f, 40.0f);
    const float f = d.uniform(0.01f, 0.2f);
    const NoiseOptions o{1, f, 2.0f, 0.5f, Shaping::Plain};
    const Interval got = fractal_3d_bounds(77, o, b.x0, b.x1, b.y0, b.y1, b.z0, b.z1);
    const Interval want = simplex_3d_bounds(77, b.x0 * f, b.x1 * f, b.y0 * f, b.y1 * f, b.z0 * f, b.z1 * f)
                              .value_or(Interval{-kOctaveBound, kOctaveBound});
    EXPECT_EQ(bits(got.low), bits(want.low));
    EXPECT_EQ(bits(got.high), bits(want.high));
  }
}

TEST(FractalBounds, HoldEveryFillSampleForEveryGainAndShaping) {
  Draw d("fractal");
  const float gains[] = {0.5f, 0.0f, -0.5f, -1.0f, 1.5f};
  for (int i = 0; i < 300; ++i) {
    const NoiseOptions o{1 + static_cast<std::uint32_t>(i % 7), d.uniform(0.01f, 0.4f), d.uniform(1.5f, 2.5f),
                         gains[i % 5], static_cast<Shaping>(i % 3)};
    const float step = d.uniform(0.05f, 1.0f);
    const Grid3 g{4, 4, 4, d.uniform(-400, 400), d.uniform(-50, 50), d.uniform(-400, 400), step};
    const float x1 = g.x0 + step * 3, y1 = g.y0 + step * 3, z1 = g.z0 + step * 3;
    const Interval r = fractal_3d_bounds(i, o, x1, g.x0, g.y0, y1, z1, g.z0);
    float out[64];
    ASSERT_TRUE(fill_3d(i, g, o, out));
    for (float v : out) {
      ASSERT_LE(r.low, v) << i;
      ASSERT_GE(r.high, v) << i;
    }
  }
}

TEST(FractalBounds, TotalWeightNotAboveZeroIsUnbounded) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  // Gain -1 over two octaves: weights 1 and -1, total 0.
  const Interval r = fractal_3d_bounds(1, {2, 0.1f, 2.0f, -1.0f, Shaping::Plain}, 0, 1, 0, 1, 0, 1);
  EXPECT_EQ(r.low, -kInf);
  EXPECT_EQ(r.high, kInf);
  // Three octaves: total 1 again, and each octave's ends are ordered after its weight.
  const Interval three = fractal_3d_bounds(1, {3, 0.1f, 2.0f, -1.0f, Shaping::Plain}, 0, 1, 0, 1, 0, 1);
  EXPECT_TRUE(std::isfinite(three.low) && std::isfinite(three.high));
  EXPECT_LE(three.low, three.high);
}

}  // namespace
}  // namespace ostrel_core::detgen::noise

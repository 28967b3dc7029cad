#include "detgen/noise.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <vector>

#include "detgen/noise_x4.hpp"
#include "detgen/reference_check.hpp"
#include "detgen/rng.hpp"
#include "support/alloc_count.hpp"

namespace ostrel_core::detgen::noise {
namespace {

constexpr float kClamp = 4194304.0f;

TEST(Noise, MatchesTheIndependentReferenceBitForBit) {
  const auto mismatches = test_reference::reference_mismatches();
  for (const auto& m : mismatches) ADD_FAILURE() << m;
  EXPECT_EQ(std::size(test_reference::kRefSimplex2) + std::size(test_reference::kRefSimplex3), 200u);
}

TEST(Noise, ZeroAtTheOriginForEverySeed) {
  for (std::uint64_t seed : {0ull, 1ull, 0xFFFFFFFFFFFFFFFFull, 0x123456789ABCDEFull}) {
    EXPECT_EQ(simplex_2d(seed, 0.0f, 0.0f), 0.0f);
    EXPECT_EQ(simplex_3d(seed, 0.0f, 0.0f, 0.0f), 0.0f);
  }
}

TEST(Noise, CoordinatesBeyondTheClampGiveTheClampedValue) {
  const float inside[] = {0.37f, -12.5f, 1001.25f};
  for (float y : inside) {
    EXPECT_EQ(std::bit_cast<std::uint32_t>(simplex_2d(3, 1e9f, y)),
              std::bit_cast<std::uint32_t>(simplex_2d(3, kClamp, y)));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(simplex_2d(3, y, -1e12f)),
              std::bit_cast<std::uint32_t>(simplex_2d(3, y, -kClamp)));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(simplex_3d(3, y, 5e7f, -y)),
              std::bit_cast<std::uint32_t>(simplex_3d(3, y, kClamp, -y)));
    EXPECT_EQ(std::bit_cast<std::uint32_t>(simplex_3d(3, std::numeric_limits<float>::infinity(), y, y)),
              std::bit_cast<std::uint32_t>(simplex_3d(3, kClamp, y, y)));
  }
}

TEST(Noise, LatticeCoordinatesHashAsUnsigned32BitPatterns) {
  constexpr std::uint64_t kx = 0x9E3779B97F4A7C15ull, ky = 0xC2B2AE3D27D4EB4Full, kz = 0x165667B19E3779F9ull;
  auto finish = [](std::uint64_t h) {
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 32);
  };
  EXPECT_EQ(lattice_hash(11, -1, 2), finish(11 ^ (0xFFFFFFFFull * kx) ^ (2 * ky)));
  EXPECT_NE(lattice_hash(11, -1, 2), finish(11 ^ (0xFFFFFFFFFFFFFFFFull * kx) ^ (2 * ky)));
  EXPECT_EQ(lattice_hash(11, 0, -1, INT32_MIN), finish(11 ^ (0xFFFFFFFFull * ky) ^ (0x80000000ull * kz)));
}

TEST(Noise, OctaveCountIsClampedToOneThroughSixteen) {
  const Grid3 g{4, 3, 2, -5.5f, 40.0f, 7.25f, 2.0f};
  auto fill = [&](std::uint32_t octaves) {
    std::vector<float> out(sample_count(g));
    EXPECT_TRUE(fill_3d(99, g, {octaves, 0.05f, 2.0f, 0.5f, Shaping::Plain}, out));
    return out;
  };
  EXPECT_EQ(fill(0), fill(1));
  EXPECT_EQ(fill(100), fill(16));
  EXPECT_NE(fill(16), fill(15));
  // One octave: each sample is the simplex value itself (divided by a total weight of 1).
  const auto one = fill(1);
  EXPECT_EQ(one[0], simplex_3d(99, -5.5f * 0.05f, 40.0f * 0.05f, 7.25f * 0.05f));
}

TEST(Noise, OneOctaveShapingsAreTheShapedSample) {
  const Grid2 g{3, 2, 10.5f, -4.0f, 1.5f, 2.5f};
  for (Shaping s : {Shaping::Plain, Shaping::Ridged, Shaping::Billow}) {
    std::vector<float> out(6);
    ASSERT_TRUE(fill_2d(5, g, {1, 0.1f, 2.0f, 0.5f, s}, out));
    for (std::size_t r = 0; r < 2; ++r) {
      for (std::size_t c = 0; c < 3; ++c) {
        const float v = simplex_2d(5, (10.5f + 1.5f * static_cast<float>(c)) * 0.1f,
                                   (-4.0f + 2.5f * static_cast<float>(r)) * 0.1f);
        const float a = std::fabs(v) + std::fabs(v);
        const float want = s == Shaping::Plain ? v : (s == Shaping::Ridged ? 1.0f - a : a - 1.0f);
        EXPECT_EQ(out[r * 3 + c], want);
      }
    }
  }
}

TEST(Noise, ShortBufferIsRefusedAndLeftUntouched) {
  std::vector<float> out(255, 7.0f);
  const auto r = fill_2d(1, {16, 16, 0, 0, 1, 1}, {}, out);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error(), (BufferSizeMismatch{255, 256}));
  EXPECT_EQ(r.error().message(), "buffer holds 255 samples but the region needs 256");
  for (float v : out) ASSERT_EQ(v, 7.0f);

  std::vector<float> three(10, 7.0f);
  EXPECT_EQ(fill_3d(1, {2, 2, 2, 0, 0, 0, 1}, {}, three).error(), (BufferSizeMismatch{10, 8}));
  const float s[3] = {1, 2, 3};
  EXPECT_EQ(fill_3d_stretched(1, {2, 2, 2, 0, 0, 0, 1}, {}, s, three).error(), (BufferSizeMismatch{10, 8}));
  for (float v : three) ASSERT_EQ(v, 7.0f);
}

TEST(Noise, EmptyGridsAndOverflowingCounts) {
  std::vector<float> none;
  EXPECT_TRUE(fill_3d(1, {0, 5, 5, 0, 0, 0, 1}, {}, none));
  EXPECT_TRUE(fill_2d(1, {7, 0, 0, 0, 1, 1}, {}, none));
  const std::size_t huge = std::size_t{1} << 40;
  EXPECT_EQ(sample_count(Grid3{huge, huge, 2, 0, 0, 0, 1}), std::numeric_limits<std::size_t>::max());
  EXPECT_FALSE(fill_3d(1, {huge, huge, 2, 0, 0, 0, 1}, {}, none));
}

TEST(Noise, StretchDividesThePositionBeforeTheFrequency) {
  const Grid3 g{3, 3, 3, 12.0f, -30.0f, 5.0f, 3.0f};
  const float stretch[3] = {2.0f, 4.0f, 0.5f};
  std::vector<float> out(27);
  ASSERT_TRUE(fill_3d_stretched(8, g, {1, 0.04f, 2.0f, 0.5f, Shaping::Plain}, stretch, out));
  std::size_t k = 0;
  for (int iz = 0; iz < 3; ++iz) {
    for (int iy = 0; iy < 3; ++iy) {
      for (int ix = 0; ix < 3; ++ix, ++k) {
        const float x = (12.0f + 3.0f * static_cast<float>(ix)) / 2.0f;
        const float y = (-30.0f + 3.0f * static_cast<float>(iy)) / 4.0f;
        const float z = (5.0f + 3.0f * static_cast<float>(iz)) / 0.5f;
        EXPECT_EQ(out[k], simplex_3d(8, x * 0.04f, y * 0.04f, z * 0.04f)) << k;
      }
    }
  }
}

TEST(Noise, FillsAllocateNothing) {
  std::vector<float> out2(64 * 64), out3(16 * 16 * 16);
  const float s[3] = {1, 4, 1};
  test::AllocationWatch watch;
  ASSERT_TRUE(fill_2d(1, {64, 64, 0, 0, 1, 1}, {}, out2));
  ASSERT_TRUE(fill_3d(1, {16, 16, 16, 0, 0, 0, 1}, {}, out3));
  ASSERT_TRUE(fill_3d_stretched(1, {16, 16, 16, 0, 0, 0, 1}, {}, s, out3));
  EXPECT_TRUE(fractal_3d_bounds(1, {}, 0, 15, 0, 15, 0, 15).low <= 0.0f);
  EXPECT_EQ(watch.count(), 0u);
}

}  // namespace
}  // namespace ostrel_core::detgen::noise

namespace ostrel_core::detgen::noise {
namespace {

// The fills run four samples at a time; each lane must be the scalar function's bits.
TEST(NoiseX4, EveryLaneEqualsTheScalarSimplex) {
  rng::StreamRng r(3, {0, 0, 0}, "x4");
  const float specials[] = {std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(),
                            -std::numeric_limits<float>::infinity(),
                            0.0f,
                            -0.0f,
                            0x1p-149f,
                            4194304.0f,
                            -5e6f,
                            1e38f,
                            0.5f,
                            -1.0f,
                            123.0f};
  auto pick = [&]() -> float {
    if (r.below(8) == 0) return specials[r.below(std::size(specials))];
    const float scale[] = {2.0f, 50.0f, 3000.0f, 1e6f};
    return (r.next_f32() * 2.0f - 1.0f) * scale[r.below(4)];
  };
  for (int i = 0; i < 20000; ++i) {
    const std::uint64_t seed = r.next_u64();
    x4::F4 x, y, z;
    for (int l = 0; l < 4; ++l) {
      x[l] = pick();
      y[l] = pick();
      z[l] = pick();
    }
    const x4::F4 got = x4::simplex_3d(seed, x, y, z);
    const x4::F4 got2 = x4::simplex_2d(seed, x, z);
    for (int l = 0; l < 4; ++l) {
      const float want = simplex_3d(seed, x[l], y[l], z[l]);
      const float want2 = simplex_2d(seed, x[l], z[l]);
      if (std::isnan(want)) {
        ASSERT_TRUE(std::isnan(got[l]));
      } else {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(got[l]), std::bit_cast<std::uint32_t>(want))
            << x[l] << " " << y[l] << " " << z[l];
      }
      if (std::isnan(want2)) {
        ASSERT_TRUE(std::isnan(got2[l]));
      } else {
        ASSERT_EQ(std::bit_cast<std::uint32_t>(got2[l]), std::bit_cast<std::uint32_t>(want2))
            << x[l] << " " << z[l];
      }
    }
  }
}

}  // namespace
}  // namespace ostrel_core::detgen::noise

#include "presentation/sky.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>

#include "detgen/rng.hpp"
#include "presentation/star_goldens.hpp"

namespace ostrel_core::sky {
namespace {

TEST(Stars, GoldensHold) {
  for (const std::string& line : golden::mismatches()) ADD_FAILURE() << line;
}

TEST(Stars, CatalogIdsOrderAndBounds) {
  const auto catalog = star_catalog(golden::kSeed);
  ASSERT_EQ(catalog.size(), kStarCount);
  EXPECT_EQ(catalog.front().id, 16u);
  EXPECT_EQ(catalog.back().id, 2063u);
  std::size_t faint = 0;
  for (std::size_t i = 0; i < catalog.size(); ++i) {
    const StarRecord& s = catalog[i];
    ASSERT_EQ(s.id, i + kFirstStarId);
    const long double x = s.position.x, y = s.position.y, z = s.position.z;
    EXPECT_LE(std::sqrt(x * x + y * y + z * z), 1e15L) << s.id;
    EXPECT_GE(s.magnitude, 0.0f);
    EXPECT_LT(s.magnitude, 1.0f);
    EXPECT_GE(s.warmth, 0.0f);
    EXPECT_LT(s.warmth, 1.0f);
    if (s.magnitude < 0.25f) ++faint;
  }
  // A squared unit lies below 0.25 half the time.
  EXPECT_GT(faint, 900u);
  EXPECT_LT(faint, 1150u);
  EXPECT_EQ(star_catalog(golden::kSeed), catalog);
  EXPECT_NE(star_catalog(golden::kSeed + 1), catalog);
}

// The draws in their order, rejected points skipped: the first accepted triple of units.
TEST(Stars, SamplePositionRejectsOutsideTheBall) {
  for (std::uint64_t seed : {0ull, 1ull, 42ull, 0xDEADBEEFull}) {
    detgen::rng::StreamRng rng(seed, {0, 0, 0}, "sky:test");
    detgen::rng::StreamRng copy = rng;
    int rejected = 0;
    for (int n = 0; n < 50; ++n) {
      float x, y, z;
      for (;;) {
        const float a = copy.next_f32(), b = copy.next_f32(), c = copy.next_f32();
        x = (a + a) - 1.0f, y = (b + b) - 1.0f, z = (c + c) - 1.0f;
        if ((x * x + y * y) + z * z <= 1.0f) break;
        ++rejected;
      }
      const UniversalPos p = sample_position(rng, 1000);
      EXPECT_EQ(p.x, static_cast<std::int64_t>(static_cast<double>(x) * 1000.0));
      EXPECT_EQ(p.y, static_cast<std::int64_t>(static_cast<double>(y) * 1000.0));
      EXPECT_EQ(p.z, static_cast<std::int64_t>(static_cast<double>(z) * 1000.0));
    }
    EXPECT_GT(rejected, 0) << "no draw fell outside the ball; the rejection went untested";
  }
}

TEST(Stars, TurnKeepsOnlyTheFraction) {
  const auto at = turn(0.25f);
  EXPECT_EQ(at[0], 1.0f);
  EXPECT_EQ(at[1], 0.0f);
  for (float t : {1.25f, -0.75f, 5.25f}) {
    const auto other = turn(t);
    EXPECT_EQ(std::bit_cast<std::uint32_t>(other[0]), std::bit_cast<std::uint32_t>(at[0])) << t;
    EXPECT_EQ(std::bit_cast<std::uint32_t>(other[1]), std::bit_cast<std::uint32_t>(at[1])) << t;
  }
  // A quarter day on, the sky has turned a quarter.
  const auto noon = turn(0.5f);
  EXPECT_NEAR(noon[0], 0.0f, 1e-3f);
  EXPECT_NEAR(noon[1], 1.0f, 1e-3f);
}

TEST(Stars, ViewEdgeCases) {
  const auto catalog = star_catalog(golden::kSeed);
  const UniversalPos here = world_position(golden::kSeed);
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const std::array<float, 3> refused[] = {{0, 0, 0}, {kNaN, 0, 1}, {0, kInf, 0}, {-0.0f, 0.0f, -0.0f}};
  for (const auto& d : refused) EXPECT_FALSE(star_in_view(catalog, here, d, 0.25f).has_value());
  // Any length of the same direction sees the same star.
  EXPECT_EQ(star_in_view(catalog, here, {0, 0, 1}, 0.25f), star_in_view(catalog, here, {0, 0, 1e-3f}, 0.25f));

  // Ties keep the earlier star; a star at the viewer is never seen.
  const UniversalPos origin{};
  std::vector<StarRecord> twins = {
      {{0, 0, 0}, 30, 0.5f, 0.5f},
      {{0, 0, 1000}, 20, 0.5f, 0.5f},
      {{0, 0, 1000}, 17, 0.5f, 0.5f},
      {{0, 1000, 0}, 18, 0.5f, 0.5f},
  };
  const auto seen = star_in_view(twins, origin, {0, 0, 1}, 0.25f);
  ASSERT_TRUE(seen.has_value());
  EXPECT_EQ(seen->id, 20u);
  EXPECT_EQ(seen->alignment, 1.0f);
  EXPECT_FALSE(star_in_view(std::span(twins).first(1), origin, {0, 0, 1}, 0.25f).has_value());
  EXPECT_FALSE(star_in_view({}, origin, {0, 0, 1}, 0.25f).has_value());

  // The view wheels about z: at noon (a quarter turn on) a view along +x meets the star on +y.
  const std::vector<StarRecord> axes = {{{1000, 0, 0}, 16, 0, 0}, {{0, 1000, 0}, 17, 0, 0}};
  EXPECT_EQ(star_in_view(axes, origin, {1, 0, 0}, 0.25f)->id, 16u);
  EXPECT_EQ(star_in_view(axes, origin, {1, 0, 0}, 0.5f)->id, 17u);

  // A viewer at the far end of the frame does not overflow the difference.
  const UniversalPos far{std::numeric_limits<std::int64_t>::min(), 0, 0};
  const auto from_far = star_in_view(axes, far, {1, 0, 0}, 0.25f);
  ASSERT_TRUE(from_far.has_value());
  EXPECT_EQ(from_far->id, 16u);
}

}  // namespace
}  // namespace ostrel_core::sky

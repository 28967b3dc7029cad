#include "movement/phys/crowd.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace ostrel_core::phys::crowd {
namespace {

Occupant player(coords::ChunkPos chunk, float x, float y, float z, std::uint32_t domain = 0) {
  return Occupant{chunk, {x, y, z}, kPlayerShape.height, kPlayerShape.width, true, domain};
}

// The pair scan written out plainly: every pair once, i ascending, j ascending.
std::vector<Vec3> pair_scan(const std::vector<Occupant>& o) {
  std::vector<Vec3> push(o.size(), Vec3{0.0f, 0.0f, 0.0f});
  for (std::size_t i = 0; i < o.size(); ++i) {
    for (std::size_t j = i + 1; j < o.size(); ++j) {
      const Occupant& a = o[i];
      const Occupant& b = o[j];
      if (!a.pushable && !b.pushable) continue;
      if (a.domain != b.domain) continue;
      auto off = [](std::int32_t cb, std::int32_t ca) {
        return static_cast<float>((static_cast<std::int64_t>(cb) - ca) * 48);
      };
      const float dx = b.local[0] + off(b.chunk.x, a.chunk.x) - a.local[0];
      const float dz = b.local[2] + off(b.chunk.z, a.chunk.z) - a.local[2];
      const float yj = b.local[1] + off(b.chunk.y, a.chunk.y);
      const float r = (b.width + a.width) * 0.5f * 0.9f;
      if (std::isnan(dx) || std::isnan(dz) || !std::isfinite(r)) continue;
      if (std::fabs(dz) >= r && std::fabs(dx) >= r) continue;
      float d = std::sqrt(dx * dx + dz * dz);
      const bool heights = yj < a.local[1] + a.height && a.local[1] < yj + b.height;
      float nx = 1.0f, nz = 0.0f;
      if (d > 1.1920929e-7f) {
        if (!(d < r && heights)) continue;
        nx = dx / d;
        nz = dz / d;
      } else {
        if (!(r > 0.0f && heights)) continue;
        d = 0.0f;
      }
      const float s = std::min((r - d) / r * 0.05f, 0.05f);
      if (a.pushable) {
        push[i][0] -= nx * s;
        push[i][2] -= nz * s;
      }
      if (b.pushable) {
        push[j][0] += nx * s;
        push[j][2] += nz * s;
      }
    }
  }
  for (Vec3& p : push) {
    const float len = std::sqrt(p[0] * p[0] + p[2] * p[2]);
    if (len > 0.12f) {
      p[0] *= 0.12f / len;
      p[2] *= 0.12f / len;
    }
  }
  return push;
}

std::vector<std::uint32_t> bits(const std::vector<Vec3>& v) {
  std::vector<std::uint32_t> out;
  for (const Vec3& p : v)
    for (float c : p) out.push_back(std::bit_cast<std::uint32_t>(c));
  return out;
}

TEST(Separate, PairsOnOneSpotPartAlongX) {
  const auto got =
      separate(std::vector{player({0, 0, 0}, 5.0f, 3.0f, 5.0f), player({0, 0, 0}, 5.0f, 3.0f, 5.0f)});
  EXPECT_EQ(got, (std::vector<Vec3>{{-0.05f, 0.0f, 0.0f}, {0.05f, 0.0f, 0.0f}}));
}

TEST(Separate, OneCellApartAcrossAChunkBorderPushesByTheOverlap) {
  const float r = (1.8f + 1.8f) * 0.5f * 0.9f;
  const float s = (r - 1.0f) / r * 0.05f;
  EXPECT_NEAR(s, 0.0191f, 1e-4f);
  const std::vector<Vec3> want{{-s, 0.0f, 0.0f}, {s, 0.0f, 0.0f}};
  EXPECT_EQ(separate(std::vector{player({0, 0, 0}, 10.0f, 3.0f, 5.0f), player({0, 0, 0}, 11.0f, 3.0f, 5.0f)}),
            want);
  EXPECT_EQ(separate(std::vector{player({0, 0, 0}, 47.5f, 3.0f, 5.0f), player({1, 0, 0}, 0.5f, 3.0f, 5.0f)}),
            want);
}

TEST(Separate, PairsThatDoNotTouchArePassedOver) {
  struct Case {
    const char* name;
    Occupant a, b;
  };
  Occupant fixed = player({0, 0, 0}, 5.0f, 3.0f, 5.0f);
  fixed.pushable = false;
  const Case cases[] = {
      {"16 blocks above", player({0, 0, 0}, 5.0f, 0.0f, 5.0f), player({0, 1, 0}, 5.0f, 0.0f, 5.0f)},
      {"neighbouring chunk rows", player({0, 0, 0}, 5.0f, 40.0f, 5.0f), player({0, 1, 0}, 5.0f, 0.0f, 5.0f)},
      {"another domain", player({0, 0, 0}, 5.0f, 3.0f, 5.0f, 0), player({0, 0, 0}, 5.0f, 3.0f, 5.0f, 1)},
      {"neither pushable", fixed, fixed},
      {"apart on both axes", player({0, 0, 0}, 5.0f, 3.0f, 5.0f), player({0, 0, 0}, 7.0f, 3.0f, 7.0f)},
      {"zero widths", Occupant{{0, 0, 0}, {5.0f, 3.0f, 5.0f}, 5.4f, 0.0f, true},
       Occupant{{0, 0, 0}, {5.0f, 3.0f, 5.0f}, 5.4f, 0.0f, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(separate(std::vector{c.a, c.b}), (std::vector<Vec3>(2, Vec3{0.0f, 0.0f, 0.0f})));
  }
  // Heights that do overlap across the chunk row are pushed.
  const auto close =
      separate(std::vector{player({0, 0, 0}, 5.0f, 44.0f, 5.0f), player({0, 1, 0}, 5.0f, 0.0f, 5.0f)});
  EXPECT_EQ(close[0][0], -0.05f);
  EXPECT_TRUE(separate(std::vector<Occupant>{}).empty());
  EXPECT_EQ(separate(std::vector{player({0, 0, 0}, 1.0f, 1.0f, 1.0f)}),
            (std::vector<Vec3>{{0.0f, 0.0f, 0.0f}}));
}

TEST(Separate, BodiesWithoutANumberOrOfEndlessWidthPushNobody) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  Occupant lost = player({0, 0, 0}, nan, 3.0f, 5.0f);
  Occupant vast = player({0, 0, 0}, 5.0f, 3.0f, 5.0f);
  vast.width = inf;
  Occupant far = player({0, 0, 0}, 5.0f, 3.0f, 5.0f);
  far.local[2] = inf;
  for (const Occupant& odd : {lost, vast, far}) {
    // Taken literally, the first would push every body at its height by 0.05 along x, the second
    // by NaN, wherever they stand.
    const auto got = separate(std::vector{odd, player({0, 0, 0}, 30.0f, 3.0f, 30.0f)});
    EXPECT_EQ(got, (std::vector<Vec3>(2, Vec3{0.0f, 0.0f, 0.0f})));
  }
}

TEST(Separate, OnlyThePushableOneOfAPairMoves) {
  Occupant post = player({0, 0, 0}, 5.0f, 3.0f, 5.0f);
  post.pushable = false;
  const auto got = separate(std::vector{post, player({0, 0, 0}, 5.0f, 3.0f, 5.0f)});
  EXPECT_EQ(got, (std::vector<Vec3>{{0.0f, 0.0f, 0.0f}, {0.05f, 0.0f, 0.0f}}));
}

TEST(Separate, ABodyInACrowdIsPushedAtMostTheCap) {
  std::vector<Occupant> crowd(9, player({0, 0, 0}, 5.0f, 3.0f, 5.0f));
  const auto got = separate(crowd);
  // The first loses 0.05 to each of the eight others, all along x; it keeps exactly the cap.
  EXPECT_FLOAT_EQ(got[0][0], -kMaxPush);
  EXPECT_EQ(got[0][2], 0.0f);
  for (const Vec3& p : got) EXPECT_LE(std::sqrt(p[0] * p[0] + p[2] * p[2]), kMaxPush + 1e-7f);
}

TEST(Separate, GridGivesThePairScanBitForBit) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> local(0.0f, 48.0f);
  std::uniform_int_distribution<std::int32_t> chunk(-1, 1);
  std::uniform_int_distribution<int> pick(0, 39);
  std::vector<Occupant> crowd;
  for (int i = 0; i < 600; ++i) {
    Occupant o = player({chunk(rng), 0, chunk(rng)}, local(rng), local(rng) / 8.0f, local(rng),
                        static_cast<std::uint32_t>(pick(rng) % 2));
    switch (pick(rng)) {
      case 0:
        o.local[0] = std::numeric_limits<float>::quiet_NaN();
        break;
      case 1:
        o.width = 40.0f;
        break;
      case 2:
        o.pushable = false;
        break;
      case 3:
        o.local[2] = 1e9f;
        break;
      case 4:
        o.width = std::numeric_limits<float>::infinity();
        break;
      case 5:
        if (!crowd.empty()) o = crowd.back();
        break;  // the same spot as the last
      default:
        break;
    }
    crowd.push_back(o);
  }
  EXPECT_EQ(bits(separate(crowd)), bits(pair_scan(crowd)));
}

}  // namespace
}  // namespace ostrel_core::phys::crowd

#include "light/propagate.hpp"

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <limits>
#include <map>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace ostrel_core::light::propagate {
namespace {

// Loose blocks inside a box, open on every face unless said otherwise; blocks outside the box
// or listed as away are not resident.
class Space {
 public:
  explicit Space(std::int32_t half = 20) : half_(half) {}

  std::map<BlockPos, std::uint16_t> lights;
  std::map<BlockPos, std::uint8_t> face_bits;
  std::map<BlockPos, std::uint8_t> falloffs;
  std::map<BlockPos, std::uint16_t> emitters;
  std::vector<BlockPos> away;
  int writes_away = 0;

  bool resident(BlockPos p) const {
    if (std::abs(p.x) > half_ || std::abs(p.y) > half_ || std::abs(p.z) > half_) return false;
    return std::find(away.begin(), away.end(), p) == away.end();
  }
  std::uint16_t light(BlockPos p) {
    auto it = lights.find(p);
    return it == lights.end() ? 0 : it->second;
  }
  std::optional<std::uint8_t> faces(BlockPos p) {
    if (!resident(p)) return std::nullopt;
    auto it = face_bits.find(p);
    return it == face_bits.end() ? std::uint8_t{0x3F} : it->second;
  }
  std::uint8_t falloff(BlockPos p) {
    auto it = falloffs.find(p);
    return it == falloffs.end() ? 0 : it->second;
  }
  std::uint16_t emission(BlockPos p) {
    auto it = emitters.find(p);
    return it == emitters.end() ? 0 : it->second;
  }
  void set_light(BlockPos p, std::uint16_t v) {
    if (!resident(p)) ++writes_away;
    lights[p] = v;
  }

 private:
  std::int32_t half_;
};
static_assert(Neighbourhood<Space>);

void lamp(Space& s, BlockPos p, std::uint16_t e) {
  s.emitters[p] = e;
  FloodQueue q;
  seed_emission(s, p, q);
  flood(s, q);
}

void sky_at(Space& s, BlockPos p) {
  s.lights[p] = 0xF000;
  FloodQueue q{p};
  flood(s, q);
}

TEST(LightPropagation, FloodsAndRemovesByTheStepRule) {
  struct Case {
    const char* name;
    std::function<void(Space&)> run;
    std::vector<std::pair<BlockPos, std::uint16_t>> want;
    std::int32_t half = 20;
  };
  const Case cases[] = {
      {"a red lamp in open air fades one level a block",
       [](Space& s) { lamp(s, {0, 0, 0}, 0x0F00); },
       {{{0, 0, 0}, 0x0F00}, {{1, 0, 0}, 0x0E00}, {{0, 0, -2}, 0x0D00}, {{0, -7, 0}, 0x0800},
        {{14, 0, 0}, 0x0100}, {{15, 0, 0}, 0}, {{5, 5, 4}, 0x0100}, {{5, 5, 5}, 0}}},
      {"sky falls without loss and loses one a block sideways and up",
       [](Space& s) { sky_at(s, {0, 10, 0}); },
       {{{0, -20, 0}, 0xF000}, {{0, 11, 0}, 0xE000}, {{1, 10, 0}, 0xE000}, {{1, 9, 0}, 0xE000},
        {{3, 5, 0}, 0xC000}, {{0, 12, 0}, 0xD000}}},
      {"a block of falloff 2 under the sky gets 13",
       [](Space& s) {
         s.falloffs[{0, 0, 0}] = 2;
         sky_at(s, {0, 1, 0});
       },
       {{{0, 0, 0}, 0xD000}, {{0, -1, 0}, 0xC000}, {{1, 1, 0}, 0xE000}}},
      {"a closed lamp lights only what is open toward it",
       [](Space& s) {
         s.face_bits[{0, 0, 0}] = 0;
         s.face_bits[{-1, 0, 0}] = 0;     // closed all round: dark
         s.face_bits[{0, 1, 0}] = 0x3B;   // closed below: lit around the corner
         lamp(s, {0, 0, 0}, 0x0F00);
       },
       {{{0, 0, 0}, 0x0F00}, {{1, 0, 0}, 0x0E00}, {{-1, 0, 0}, 0}, {{0, 1, 0}, 0x0C00}, {{0, -1, 0}, 0x0E00}}},
      {"colours spread per channel, each keeping its own level",
       [](Space& s) {
         lamp(s, {0, 0, 0}, 0x0F00);
         lamp(s, {3, 0, 0}, 0x00F0);
         lamp(s, {0, 3, 0}, 0x0008);
       },
       {{{1, 0, 0}, 0x0ED4}, {{3, 0, 0}, 0x0CF2}, {{0, 3, 0}, 0x0C98}}},
      {"blocks that are not resident are never written and pass nothing",
       [](Space& s) {
         for (std::int32_t y = -4; y <= 4; ++y)
           for (std::int32_t z = -4; z <= 4; ++z) s.away.push_back({2, y, z});
         lamp(s, {0, 0, 0}, 0x0F00);
       },
       {{{1, 0, 0}, 0x0E00}, {{2, 0, 0}, 0}, {{3, 0, 0}, 0}, {{-4, 0, 0}, 0x0B00}},
       4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Space s(c.half);
    c.run(s);
    for (const auto& [p, v] : c.want) EXPECT_EQ(s.light(p), v) << p.x << "," << p.y << "," << p.z;
    EXPECT_EQ(s.writes_away, 0);
  }
}

// Lamps lit one after another, the last one then taken away: what is left must equal the
// lamps that stay, lit afresh.
TEST(LightPropagation, RemovingALampLeavesWhatTheOtherLampsLight) {
  struct Lamp {
    BlockPos at;
    std::uint16_t emits;
    bool closed;
  };
  struct Case {
    const char* name;
    std::vector<Lamp> stay;
    Lamp removed;
  };
  const Case cases[] = {
      {"a second lamp four blocks away", {{{4, 0, 0}, 0x0F00, false}}, {{0, 0, 0}, 0x0F00, false}},
      {"a closed lamp beside it", {{{0, 0, 0}, 0x0F00, true}}, {{2, 0, 0}, 0x0F00, false}},
      {"a weaker lamp next to it", {{{0, 0, 0}, 0x0500, false}}, {{1, 0, 0}, 0x0F00, false}},
      {"lamps of other colours", {{{3, 1, 0}, 0x0F0F, true}, {{-2, 0, 0}, 0x00F0, false}},
       {{0, 0, 0}, 0x0FF0, false}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto place = [](Space& s, const Lamp& l) {
      if (l.closed) s.face_bits[l.at] = 0;
      lamp(s, l.at, l.emits);
    };
    Space lit(12), fresh(12);
    for (const auto& l : c.stay) place(lit, l);
    place(lit, c.removed);
    for (const auto& l : c.stay) place(fresh, l);

    lit.emitters.erase(c.removed.at);
    lit.face_bits.erase(c.removed.at);
    const std::uint16_t old = lit.light(c.removed.at);
    lit.set_light(c.removed.at, 0);
    FloodQueue q;
    for (Channel ch : kChannels) {
      if (level_of(old, ch) != 0) remove(lit, c.removed.at, ch, level_of(old, ch), q);
    }
    for (unsigned i = 0; i < 6; ++i) q.push_back(*neighbour(c.removed.at, i));
    flood(lit, q);
    for (std::int32_t x = -12; x <= 12; ++x)
      for (std::int32_t y = -12; y <= 12; ++y)
        for (std::int32_t z = -12; z <= 12; ++z) {
          const BlockPos p{x, y, z};
          ASSERT_EQ(lit.light(p), fresh.light(p)) << x << "," << y << "," << z;
        }
  }
}

TEST(LightPropagation, RemovingTheSkyDarkensItsColumnAndRefillsFromTheSide) {
  Space s(6);
  for (std::int32_t x = -6; x <= 6; ++x)
    for (std::int32_t z = -6; z <= 6; ++z) s.lights[{x, 6, z}] = 0xF000;
  FloodQueue top;
  for (const auto& [p, v] : s.lights) top.push_back(p);
  flood(s, top);
  EXPECT_EQ(s.light({0, -6, 0}), 0xF000);

  // A roof over one column: its top block loses the sky and the column below follows.
  s.face_bits[{0, 6, 0}] = 0;
  s.set_light({0, 6, 0}, 0);
  FloodQueue q;
  remove(s, {0, 6, 0}, Channel::Sky, 15, q);
  flood(s, q);
  EXPECT_EQ(s.light({0, 6, 0}), 0);
  for (std::int32_t y = -6; y <= 5; ++y) EXPECT_EQ(s.light({0, y, 0}), 0xE000) << y;  // lit from the side
  EXPECT_EQ(s.light({1, 0, 0}), 0xF000);
}

// The step rule one channel at a time, as written.
std::uint16_t step_rule(std::uint16_t source, unsigned direction, std::uint8_t falloff, std::uint16_t current) {
  std::uint16_t out = current;
  for (Channel c : kChannels) {
    const int s = level_of(source, c);
    int l = std::max(0, s - std::max<int>(falloff, 1));
    if (c == Channel::Sky && s == 15 && direction == kDown && falloff == 0) l = 15;
    if (l > level_of(out, c)) out = with_level(out, c, static_cast<std::uint8_t>(l));
  }
  return out;
}

TEST(LightPropagation, TheFourChannelsAtOnceFollowTheStepRule) {
  std::uint32_t mixer = 12345;
  for (std::uint32_t source = 0; source < 65536; source += 3) {
    for (unsigned falloff : {0u, 1u, 2u, 3u, 7u, 14u, 15u, 16u, 17u, 200u, 255u}) {
      for (unsigned direction = 0; direction < 6; ++direction) {
        mixer = mixer * 1103515245u + 12345u;
        const auto current = static_cast<std::uint16_t>(mixer >> 8);
        const auto s = static_cast<std::uint16_t>(source);
        const auto f = static_cast<std::uint8_t>(falloff);
        ASSERT_EQ(lit_through(s, direction, f, current), step_rule(s, direction, f, current))
            << std::hex << source << " " << falloff << " " << direction << " " << current;
        ASSERT_EQ(lit_through(s, direction, f, 0), step_rule(s, direction, f, 0));
      }
    }
  }
}

TEST(LightPropagation, NeighboursPastTheRangeDoNotExist) {
  constexpr auto kMax = std::numeric_limits<std::int32_t>::max();
  constexpr auto kMin = std::numeric_limits<std::int32_t>::min();
  EXPECT_FALSE(neighbour({kMax, 0, 0}, 1));
  EXPECT_FALSE(neighbour({0, kMin, 0}, kDown));
  EXPECT_EQ(neighbour({kMax, 0, 0}, 0), (BlockPos{kMax - 1, 0, 0}));
  EXPECT_EQ(neighbour({0, 0, kMin}, 5), (BlockPos{0, 0, kMin + 1}));
  EXPECT_EQ(lit_through(0xF000, kDown, 0, 0), 0xF000);
  EXPECT_EQ(lit_through(0xF000, kUp, 0, 0), 0xE000);
  EXPECT_EQ(lit_through(0xF888, kDown, 3, 0x0900), 0xC955);
}

}  // namespace
}  // namespace ostrel_core::light::propagate

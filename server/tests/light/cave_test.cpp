// A cave of 18 chunks (rock, lamps, glass, mixed blocks, a glowing fluid that dims light, a
// ceiling with holes and skylights) lit chunk by chunk and then edited 50 times: the hash of
// its light pins the whole relighting, and the same cave lit afresh must end the same.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/blake3.hpp"
#include "fluid/fluidics.hpp"
#include "light/codec.hpp"
#include "light/lighting.hpp"
#include "support/chunks.hpp"
#include "support/hex.hpp"

namespace ostrel_server::light {
namespace {

using ostrel_core::block::BlockValue;
using ostrel_core::block::Cells;
using ostrel_core::fluid::Fluid;

constexpr MaterialId kStone = 2, kGlass = 3, kLamp = 4, kBlueLamp = 5, kLeaves = 6, kPool = 7;
constexpr ostrel_core::fluid::FluidId kGlow = 1, kWater = 2;

// The cave's checked-in light: BLAKE3 of every chunk (ascending) as x, y, z (i32 little-endian)
// followed by its encoded layer.
constexpr const char* kGoldenCave = "0000000000000000000000000000000000000000000000000000000000000000";

std::uint64_t mix(std::uint64_t h) {
  h += 0x9e3779b97f4a7c15ull;
  h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
  h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
  return h ^ (h >> 31);
}

std::uint64_t at(std::int32_t x, std::int32_t y, std::int32_t z, std::uint64_t salt) {
  return mix(mix(mix(static_cast<std::uint32_t>(x) ^ salt) ^ static_cast<std::uint32_t>(y)) ^
             static_cast<std::uint32_t>(z));
}

Tables cave_tables() {
  Tables t;
  t.emission.assign(8, 0);
  t.emission[kLamp] = 0x0FA0;
  t.emission[kBlueLamp] = 0x000C;
  t.emission[kPool] = 0x0396;
  t.passes.assign(7, 0);
  t.passes[kGlass] = 1;
  t.passes[kLeaves] = 1;
  t.falloff.assign(7, 0);
  t.falloff[kLeaves] = 2;
  t.any_emits = t.any_passes = t.any_falloff = true;
  return t;
}

ostrel_core::fluid::Fluids cave_fluids() {
  ostrel_core::fluid::Fluids f;
  ostrel_core::fluid::Registered glow, water;
  glow.name = "cave:glow";
  glow.material = kPool;
  glow.light_falloff = 2;
  water.name = "cave:water";
  water.material = 8;
  water.light_falloff = 1;
  EXPECT_TRUE(f.register_fluid(glow).has_value());
  EXPECT_TRUE(f.register_fluid(water).has_value());
  return f;
}

Cells mixed_cells(std::uint64_t h) {
  Cells c{};
  for (std::size_t i = 0; i < c.size(); ++i) c[i] = (h >> i) & 1 ? kStone : 0;
  c[h % 27] = kLamp;
  c[(h >> 5) % 27] = kLeaves;
  return c;
}

class Cave {
 public:
  Cave() : fluid_(cave_fluids()) {
    for (std::int32_t y = -16; y < 16; ++y)
      for (std::int32_t z = -16; z < 32; ++z)
        for (std::int32_t x = -16; x < 32; ++x) generate({x, y, z});
  }

  std::vector<ChunkPos> chunks() const {
    std::vector<ChunkPos> out;
    for (std::int32_t y = -1; y <= 0; ++y)
      for (std::int32_t z = -1; z <= 1; ++z)
        for (std::int32_t x = -1; x <= 1; ++x) out.push_back({x, y, z});
    return out;
  }

  void load_all(Lighting& l) {
    for (const ChunkPos& c : chunks()) l.chunk_loaded_with_fluid(c, world_, fluid_);
  }

  // The i-th edit of the run: a block or a fluid somewhere in the cave.
  BlockPos edit(std::uint64_t i) {
    const std::uint64_t h = mix(i ^ 0xCA7Eull);
    const BlockPos p{static_cast<std::int32_t>(h % 48) - 16, static_cast<std::int32_t>((h >> 8) % 32) - 16,
                     static_cast<std::int32_t>((h >> 16) % 48) - 16};
    switch ((h >> 24) % 7) {
      case 0: world_.set(p, BlockValue::whole(kStone)); break;
      case 1: world_.set(p, BlockValue::air()); break;
      case 2: world_.set(p, BlockValue::whole(kLamp)); break;
      case 3: world_.set(p, BlockValue::whole(kGlass)); break;
      case 4:
        world_.set(p, BlockValue::air());
        fluid_.set(p, Fluid::of(kGlow, 27));
        break;
      case 5:
        fluid_.set(p, Fluid{});
        world_.set(p, BlockValue::mixed(mixed_cells(h)));
        break;
      default: world_.set(p, BlockValue::whole(kLeaves)); break;
    }
    return p;
  }

  test::Chunks& world() { return world_; }
  fluid::Fluidics& fluid() { return fluid_; }

 private:
  void generate(BlockPos p) {
    const std::uint64_t h = at(p.x, p.y, p.z, 0x5EED);
    if (p.y == 15) {  // the ceiling: rock with holes and skylights
      if (h % 7 == 0) return;
      world_.set(p, BlockValue::whole(h % 11 == 0 ? kGlass : kStone));
      return;
    }
    if (h % 100 < 55) {
      MaterialId m = kStone;
      if (h % 97 == 0) m = kLamp;
      else if (h % 89 == 0) m = kBlueLamp;
      else if (h % 53 == 0) m = kGlass;
      if (h % 41 == 0) {
        world_.set(p, BlockValue::mixed(mixed_cells(h >> 7)));
      } else {
        world_.set(p, BlockValue::whole(m));
      }
      return;
    }
    world_.air(p.chunk());
    if (h % 37 == 0) fluid_.set(p, Fluid::of(kGlow, static_cast<std::uint8_t>(1 + (h >> 12) % 27)));
    if (h % 29 == 0) fluid_.set(p, Fluid::of(kWater, 27));
  }

  test::Chunks world_;
  fluid::Fluidics fluid_;
};

std::string light_hash(const Lighting& l) {
  std::vector<ChunkPos> chunks;
  for (const auto& [pos, layer] : l.layers()) chunks.push_back(pos);
  std::sort(chunks.begin(), chunks.end());
  ostrel_core::blake3::Hasher h;
  for (const ChunkPos& c : chunks) {
    std::vector<std::uint8_t> bytes;
    for (std::int32_t v : {c.x, c.y, c.z}) {
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    }
    const auto encoded = ostrel_core::light::codec::encode(*l.layer(c));
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    h.update(bytes);
  }
  const auto digest = h.finalize();
  return ostrel_core::test::to_hex({digest.begin(), digest.end()});
}

TEST(GoldenCave, LightOfLoadsAndFiftyEditsMatchesTheCheckedInHash) {
  Cave cave;
  Lighting l(std::make_shared<const Tables>(cave_tables()));
  cave.load_all(l);
  // The cave is not trivial: rock, lamps of two colours, sky through the holes, dimmed light.
  EXPECT_EQ(l.layers().size(), 18u);
  std::size_t full = 0;
  for (const auto& [pos, layer] : l.layers()) full += layer.is_uniform() ? 0 : 1;
  EXPECT_GE(full, 12u);
  for (std::uint64_t i = 0; i < 50; ++i) {
    const BlockPos p = cave.edit(i);
    l.edited_with_fluid(p, cave.world(), cave.fluid());
  }
  EXPECT_EQ(light_hash(l), kGoldenCave);
}

TEST(GoldenCave, EditsEndWhereAFreshLightingOfTheSameCaveEnds) {
  Cave cave;
  Lighting edited(std::make_shared<const Tables>(cave_tables()));
  cave.load_all(edited);
  for (std::uint64_t i = 0; i < 50; ++i) edited.edited_with_fluid(cave.edit(i), cave.world(), cave.fluid());
  Lighting fresh(std::make_shared<const Tables>(cave_tables()));
  cave.load_all(fresh);
  edited.compact([&] {
    Touched all;
    for (const auto& [pos, layer] : edited.layers()) all.insert(pos);
    return all;
  }());
  for (const auto& [pos, layer] : fresh.layers()) {
    SCOPED_TRACE(testing::Message() << pos.x << "," << pos.y << "," << pos.z);
    ASSERT_NE(edited.layer(pos), nullptr);
    EXPECT_TRUE(*edited.layer(pos) == layer);
  }
}

}  // namespace
}  // namespace ostrel_server::light

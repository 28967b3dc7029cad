// A cave of 18 chunks (rock, lamps, glass, mixed blocks, a glowing fluid that dims light, a
// ceiling with holes and skylights) lit chunk by chunk and then edited 50 times: the hash of
// its light pins the whole relighting, and the same cave lit afresh must end the same.

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "base/blake3.hpp"
#include "detgen/rng.hpp"
#include "fluid/fluidics.hpp"
#include "light/codec.hpp"
#include "light/lighting.hpp"
#include "light/lit.hpp"
#include "light/propagate.hpp"
#include "support/chunks.hpp"

namespace ostrel_server::light {
namespace {

using ostrel_core::block::BlockValue;
using ostrel_core::block::Cells;
using ostrel_core::fluid::Fluid;

constexpr MaterialId kStone = 2, kGlass = 3, kLamp = 4, kBlueLamp = 5, kLeaves = 6, kPool = 7;
constexpr ostrel_core::fluid::FluidId kGlow = 1, kWater = 2;

// The cave's checked-in light: BLAKE3 of every chunk (ascending) as x, y, z (i32 little-endian)
// followed by its encoded layer.
constexpr const char* kGoldenCave = "76e69f330063f0b5574ecfc728fcc8ce5174f4700bae54dc8d118fffd836b289";

std::uint64_t mix(std::uint64_t h) { return ostrel_core::detgen::rng::mix(h + 0x9e3779b97f4a7c15ull); }

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

  void load_all(Lighting& l, bool reversed = false) {
    auto order = chunks();
    if (reversed) std::reverse(order.begin(), order.end());
    for (const ChunkPos& c : order) l.chunk_loaded_with_fluid(c, world_, fluid_);
  }

  // The i-th edit of the run: a block or a fluid somewhere in the cave.
  BlockPos edit(std::uint64_t i) {
    const std::uint64_t h = mix(i ^ 0xCA7Eull);
    const BlockPos p{static_cast<std::int32_t>(h % 48) - 16, static_cast<std::int32_t>((h >> 8) % 32) - 16,
                     static_cast<std::int32_t>((h >> 16) % 48) - 16};
    switch ((h >> 24) % 7) {
      case 0:
        world_.set(p, BlockValue::whole(kStone));
        break;
      case 1:
        world_.set(p, BlockValue::air());
        break;
      case 2:
        world_.set(p, BlockValue::whole(kLamp));
        break;
      case 3:
        world_.set(p, BlockValue::whole(kGlass));
        break;
      case 4:
        world_.set(p, BlockValue::air());
        fluid_.set(p, Fluid::of(kGlow, 27));
        break;
      case 5:
        fluid_.set(p, Fluid{});
        world_.set(p, BlockValue::mixed(mixed_cells(h)));
        break;
      default:
        world_.set(p, BlockValue::whole(kLeaves));
        break;
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
      if (h % 97 == 0)
        m = kLamp;
      else if (h % 89 == 0)
        m = kBlueLamp;
      else if (h % 53 == 0)
        m = kGlass;
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
      for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i)));
    }
    const auto encoded = ostrel_core::light::codec::encode(*l.layer(c));
    bytes.insert(bytes.end(), encoded.begin(), encoded.end());
    h.update(bytes);
  }
  std::string hex;
  for (std::uint8_t b : h.finalize()) hex += fmt::format("{:02x}", b);
  return hex;
}

// The cave's light by brute force: sources (each block's own light, what emitters give the
// blocks open toward them, open sky under a missing chunk), then relaxed across open faces
// until nothing changes. The relights must end exactly here.
class Reference {
 public:
  explicit Reference(Cave& cave)
      : lit_(layers_, tables_, {100, 100, 100}, cave.world(), cave.fluid(), touched_) {
    values_.assign(kSize, 0);
    for (std::size_t i = 0; i < kSize; ++i) {
      const BlockPos b = pos(i);
      raise(i, lit_.emission(b));
      const auto f = lit_.faces(b);
      if (b.y == 15 && f && (*f & 0x08)) raise(i, 0xF000);
      for (unsigned d = 0; d < 6; ++d) {
        const auto e = ostrel_core::light::propagate::neighbour(b, d);
        if (!e || !inside(*e) || !f || !(*f & ostrel_core::light::propagate::face_bit(d))) continue;
        const std::uint16_t emits = lit_.emission(*e);
        if (emits != 0)
          raise(i, ostrel_core::light::propagate::lit_through(emits, d ^ 1, lit_.falloff(b), 0));
      }
    }
    for (bool changed = true; changed;) {
      changed = false;
      for (std::size_t i = 0; i < kSize; ++i) {
        const BlockPos b = pos(i);
        const auto f = lit_.faces(b);
        if (!f) continue;
        for (unsigned d = 0; d < 6; ++d) {
          const auto n = ostrel_core::light::propagate::neighbour(b, d);
          if (!n || !inside(*n) || !(*f & ostrel_core::light::propagate::face_bit(d))) continue;
          const auto fn = lit_.faces(*n);
          const std::uint16_t from = values_[index(*n)];
          if (!fn || !(*fn & ostrel_core::light::propagate::face_bit(d ^ 1)) || from == 0) continue;
          changed |=
              raise(i, ostrel_core::light::propagate::lit_through(from, d ^ 1, lit_.falloff(b), values_[i]));
        }
      }
    }
  }

  std::uint16_t at(BlockPos b) const { return values_[index(b)]; }

 private:
  static constexpr std::size_t kSize = 48 * 32 * 48;
  static bool inside(BlockPos b) {
    return b.x >= -16 && b.x < 32 && b.y >= -16 && b.y < 16 && b.z >= -16 && b.z < 32;
  }
  static std::size_t index(BlockPos b) {
    return static_cast<std::size_t>((b.x + 16) + 48 * (b.y + 16) + 48 * 32 * (b.z + 16));
  }
  static BlockPos pos(std::size_t i) {
    return {static_cast<std::int32_t>(i % 48) - 16, static_cast<std::int32_t>(i / 48 % 32) - 16,
            static_cast<std::int32_t>(i / (48 * 32)) - 16};
  }
  bool raise(std::size_t i, std::uint16_t v) {
    std::uint16_t out = values_[i];
    for (auto c : ostrel_core::light::propagate::kChannels) {
      const auto l = ostrel_core::light::propagate::level_of(v, c);
      if (l > ostrel_core::light::propagate::level_of(out, c))
        out = ostrel_core::light::propagate::with_level(out, c, l);
    }
    const bool changed = out != values_[i];
    values_[i] = out;
    return changed;
  }

  Tables tables_ = cave_tables();
  LightLayers layers_;
  Touched touched_;
  Lit lit_;  // the world's faces, falloff and emission; its own light is never used
  std::vector<std::uint16_t> values_;
};

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
  const Reference reference(cave);
  for (const auto& [pos, layer] : l.layers()) {
    for (int i = 0; i < 4096; ++i) {
      const BlockPos b = pos.block(ostrel_core::coords::LocalPos::from_index(static_cast<std::uint16_t>(i)));
      ASSERT_EQ(l.at(b), reference.at(b)) << b.x << "," << b.y << "," << b.z;
    }
  }
  EXPECT_EQ(light_hash(l), kGoldenCave);
}

// Every block of `b`'s chunks equals `a`'s; the first blocks that differ are named.
void expect_same_light(const Lighting& a, const Lighting& b) {
  ASSERT_EQ(a.layers().size(), b.layers().size());
  for (const auto& [pos, layer] : b.layers()) {
    SCOPED_TRACE(testing::Message() << "chunk " << pos.x << "," << pos.y << "," << pos.z);
    ASSERT_NE(a.layer(pos), nullptr);
    int shown = 0;
    for (int i = 0; i < 4096 && shown < 5; ++i) {
      const BlockPos p = pos.block(ostrel_core::coords::LocalPos::from_index(static_cast<std::uint16_t>(i)));
      if (a.at(p) == b.at(p)) continue;
      ++shown;
      ADD_FAILURE() << p.x << "," << p.y << "," << p.z << ": " << std::hex << a.at(p) << " against "
                    << b.at(p);
    }
    if (shown) return;
  }
}

// Light is a function of the world: in whatever order the chunks loaded and however the edits
// went, it equals the same cave lit afresh.
TEST(GoldenCave, EditsEndWhereAFreshLightingOfTheSameCaveEnds) {
  Cave cave;
  Lighting edited(std::make_shared<const Tables>(cave_tables()));
  cave.load_all(edited);
  Lighting backwards(std::make_shared<const Tables>(cave_tables()));
  cave.load_all(backwards, true);
  expect_same_light(edited, backwards);
  for (std::uint64_t round = 1; round <= 6 && !HasFailure(); ++round) {
    SCOPED_TRACE(testing::Message() << "round " << round);
    for (std::uint64_t i = 0; i < 50; ++i)
      edited.edited_with_fluid(cave.edit(round * 1000 + i), cave.world(), cave.fluid());
    Lighting fresh(std::make_shared<const Tables>(cave_tables()));
    cave.load_all(fresh, round % 2 == 0);
    Touched all;
    for (const auto& [pos, layer] : edited.layers()) all.insert(pos);
    edited.compact(all);
    expect_same_light(edited, fresh);
  }
}

}  // namespace
}  // namespace ostrel_server::light

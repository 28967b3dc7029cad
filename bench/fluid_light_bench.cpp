// Fluids and light in motion: a settled sea's fluid step, a step that processes its full 512
// positions, lighting a loaded chunk (open air, a cave, solid rock) and relighting around one
// edited block. Lighting on arrival has 8 ms per domain a tick; one chunk must take far less.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <unordered_map>

#include "detgen/rng.hpp"
#include "fluid/fluidics.hpp"
#include "light/lighting.hpp"

namespace ostrel_server {
namespace {

using ostrel_core::block::BlockValue;
using ostrel_core::chunk::Chunk;
using ostrel_core::coords::BlockPos;
using ostrel_core::coords::ChunkPos;
using ostrel_core::fluid::Fluid;
using ostrel_core::material::MaterialId;

constexpr MaterialId kStone = 2, kLamp = 3;

class Chunks final : public ostrel_core::phys::voxels::Resident {
 public:
  Chunk& at(ChunkPos c) {
    auto it = chunks_.find(c);
    if (it == chunks_.end()) it = chunks_.emplace(c, Chunk::filled(c, 0)).first;
    return it->second;
  }
  void fill(ChunkPos c, MaterialId m) { chunks_.insert_or_assign(c, Chunk::filled(c, m)); }
  void set(BlockPos p, MaterialId m) { at(p.chunk()).set_block_local(p.local(), BlockValue::whole(m)); }
  const Chunk* resident(ChunkPos c) const override {
    auto it = chunks_.find(c);
    return it == chunks_.end() ? nullptr : &it->second;
  }

 private:
  std::unordered_map<ChunkPos, Chunk> chunks_;
};

std::uint64_t mix(std::uint64_t h) { return ostrel_core::detgen::rng::mix(h + 0x9e3779b97f4a7c15ull); }

ostrel_core::fluid::Fluids water() {
  ostrel_core::fluid::Fluids f;
  ostrel_core::fluid::Registered w;
  w.name = "m:water";
  w.material = 9;
  if (!f.register_fluid(w)) std::abort();  // the first fluid of an empty registry is always taken
  return f;
}

light::Tables tables() {
  light::Tables t;
  t.emission.assign(kLamp + 1, 0);
  t.emission[kLamp] = 0x0FA0;
  t.any_emits = true;
  return t;
}

// A sea three chunks deep and 3 x 3 wide on a rock floor, every block full: it loads asleep.
void BM_SettledSeaStep(benchmark::State& state) {
  Chunks world;
  fluid::Fluidics f(water());
  std::vector<Fluid> full(4096, Fluid::of(1, 27));
  for (std::int32_t x = -1; x <= 1; ++x)
    for (std::int32_t z = -1; z <= 1; ++z) {
      world.fill({x, -1, z}, kStone);
      for (std::int32_t y = 0; y <= 2; ++y) {
        world.at({x, y, z});
        f.chunk_loaded({x, y, z}, fluid::FluidLayer::from_blocks(full), world);
      }
    }
  std::uint64_t step = 0;
  for (auto _ : state) benchmark::DoNotOptimize(f.tick(world, step++, 7));
  state.counters["woken"] = static_cast<double>(f.solver().work_sets().touched);
}
BENCHMARK(BM_SettledSeaStep);

// 600 full blocks dropped on a floor, one every other block: the first step processes 512.
void BM_Step512Processed(benchmark::State& state) {
  Chunks world;
  fluid::Fluidics base(water());
  for (std::int32_t x = 0; x < 4; ++x)
    for (std::int32_t z = 0; z < 4; ++z) {
      world.fill({x, -1, z}, kStone);
      world.at({x, 0, z});
      base.chunk_loaded({x, 0, z}, {}, world);
    }
  for (std::int32_t i = 0; i < 600; ++i) base.set({2 * (i % 30), 0, 2 * (i / 30)}, Fluid::of(1, 27));
  base.tick(world, 0, 7);  // the pending writes; now 600 blocks and their neighbours wait
  std::size_t flows = 0;
  std::optional<fluid::Fluidics> f;
  for (auto _ : state) {
    state.PauseTiming();
    f.reset();  // copies are made and dropped outside the timing
    f.emplace(base);
    state.ResumeTiming();
    flows += f->tick(world, 1, 7).size();
  }
  state.counters["flows"] =
      benchmark::Counter(static_cast<double>(flows), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_Step512Processed)->Unit(benchmark::kMicrosecond);

enum Kind { kOpenAir, kCave, kSolid };

// 3 x 2 x 3 chunks; the chunk measured is (0, 0, 0), under an open sky.
Chunks terrain(Kind kind) {
  Chunks world;
  for (std::int32_t x = -1; x <= 1; ++x)
    for (std::int32_t y = -1; y <= 0; ++y)
      for (std::int32_t z = -1; z <= 1; ++z) world.at({x, y, z});
  if (kind == kSolid) world.fill({0, 0, 0}, kStone);
  if (kind == kCave) {
    for (std::int32_t x = -16; x < 32; ++x)
      for (std::int32_t y = -16; y < 16; ++y)
        for (std::int32_t z = -16; z < 32; ++z) {
          const std::uint64_t h =
              mix(mix(mix(static_cast<std::uint32_t>(x)) ^ static_cast<std::uint32_t>(y)) ^
                  static_cast<std::uint32_t>(z));
          if (y == 15 && h % 5 != 0)
            world.set({x, y, z}, kStone);
          else if (h % 100 < 55)
            world.set({x, y, z}, h % 97 == 0 ? kLamp : kStone);
        }
  }
  return world;
}

// Every chunk of `terrain` lit, in load order.
light::Lighting lit(const Chunks& world) {
  light::Lighting l(std::make_shared<const light::Tables>(tables()));
  const light::Dry dry;
  for (std::int32_t x = -1; x <= 1; ++x)
    for (std::int32_t y = -1; y <= 0; ++y)
      for (std::int32_t z = -1; z <= 1; ++z) l.chunk_loaded_with_fluid({x, y, z}, world, dry);
  return l;
}

void BM_ChunkLoadedWithFluid(benchmark::State& state) {
  const auto kind = static_cast<Kind>(state.range(0));
  Chunks world = terrain(kind);
  light::Lighting l = lit(world);
  const light::Dry dry;
  for (auto _ : state) {
    l.forget({0, 0, 0});
    benchmark::DoNotOptimize(l.chunk_loaded_with_fluid({0, 0, 0}, world, dry));
  }
  state.counters["skipped_solid"] = static_cast<double>(l.skipped_solid());
}
BENCHMARK(BM_ChunkLoadedWithFluid)->Arg(kOpenAir)->Arg(kCave)->Arg(kSolid)->Unit(benchmark::kMicrosecond);

// One block toggled: stone on top of an open column (the column darkens, then lights again), or
// a lamp in the cave switched on and off.
void BM_EditedWithFluid(benchmark::State& state) {
  const auto kind = static_cast<Kind>(state.range(0));
  Chunks world = terrain(kind);
  light::Lighting l = lit(world);
  const light::Dry dry;
  const BlockPos p = kind == kOpenAir ? BlockPos{8, 15, 8} : BlockPos{8, 6, 8};
  const MaterialId on = kind == kOpenAir ? kStone : kLamp;
  world.set(p, 0);
  l.edited_with_fluid(p, world, dry);
  bool placed = false;
  for (auto _ : state) {
    placed = !placed;
    world.set(p, placed ? on : 0);
    benchmark::DoNotOptimize(l.edited_with_fluid(p, world, dry));
  }
}
BENCHMARK(BM_EditedWithFluid)->Arg(kOpenAir)->Arg(kCave)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace ostrel_server

// The golden terrain through the script engine: the fixture mod golden_terrain runs the chunk
// buffer's fills in the native recipe's order, and its chunks must hash to the recipe's committed
// digests on the simulation engine and through three workers fed the positions shuffled.

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <random>
#include <tuple>

#include "detgen/buffer/golden_buffer.hpp"
#include "worldgen/pool.hpp"
#include "worldgen_fixture.hpp"

namespace ostrel_server::worldgen {
namespace {

namespace golden = ostrel_core::detgen::buffer::golden;

const std::vector<std::pair<std::string, std::uint8_t>> kFluidIds{{"golden_terrain:water", 1},
                                                                  {"golden_terrain:tar", 2}};

TEST(GoldenTerrainMod, GivesTheRecipeDigestsOnTheSimulationEngineAndThroughThePool) {
  test::Mods mods{test::Mods::Fixture{}};
  auto sim = mods.load();
  sim.vm.set_fluid_ids(kFluidIds);
  for (std::size_t i = 0; i < std::size(golden::kSeeds); ++i) {
    const std::uint64_t seed = golden::kSeeds[i];
    const golden::Digested d = golden::digest_of([&](ChunkPos pos) {
      auto got = sim.vm.generate_chunk("overworld", seed, pos, ostrel_core::material::kAir);
      EXPECT_TRUE(got) << got.error().with_detail();
      if (!got) return std::pair{ostrel_core::chunk::Chunk::filled(pos, 0), ostrel_core::fluid::layer::FluidLayer{}};
      return std::pair{std::move(got->chunk), std::move(got->fluid)};
    });
    EXPECT_EQ(d.hex, golden::kDigests[i]) << "simulation engine, seed " << seed;
    EXPECT_GT(d.cut, 0);
    EXPECT_GT(d.wet, 0u);
  }

  WorkerSpec spec = mods.spec(sim);
  spec.fluid_ids = kFluidIds;
  for (const auto& [name, id] : kFluidIds) ASSERT_EQ(spec.fluids.register_placeholder(name), id);
  auto pool = Pool::start(spec, 3);
  ASSERT_TRUE(pool) << pool.error().message();
  ASSERT_EQ(pool->workers(), 3u);

  using Key = std::tuple<std::uint64_t, ChunkPos>;
  std::vector<Key> jobs;
  for (const std::uint64_t seed : golden::kSeeds) {
    for (const ChunkPos pos : golden::positions()) jobs.emplace_back(seed, pos);
  }
  std::shuffle(jobs.begin(), jobs.end(), std::mt19937(2024));
  std::map<Key, Done> got;
  std::size_t next = 0;
  while (got.size() < jobs.size()) {
    // A chunk already in flight for another seed waits for its result.
    while (next < jobs.size() && pool->submit("overworld", std::get<1>(jobs[next]), std::get<0>(jobs[next]))) ++next;
    const auto arrived = test::collect(*pool, 1);
    if (arrived.empty()) break;  // collect already failed the test
    for (const Done& d : arrived) got.emplace(Key{d.seed, d.pos}, d);
  }
  ASSERT_EQ(got.size(), jobs.size());
  for (std::size_t i = 0; i < std::size(golden::kSeeds); ++i) {
    const std::uint64_t seed = golden::kSeeds[i];
    const golden::Digested d = golden::digest_of([&](ChunkPos pos) {
      const Done& done = got.at(Key{seed, pos});
      EXPECT_FALSE(done.stand_in) << pos.x << " " << pos.y << " " << pos.z;
      return std::pair{done.chunk, done.fluid};
    });
    EXPECT_EQ(d.hex, golden::kDigests[i]) << "pool, seed " << seed;
  }
}

}  // namespace
}  // namespace ostrel_server::worldgen

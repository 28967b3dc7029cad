// The pool across threads: three workers fed shuffled positions give every chunk exactly as the
// simulation's own engine does, while the owner faults mods and reads the busy time; and the
// channel under many senders. Run under ThreadSanitizer.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <thread>

#include "worldgen/pool.hpp"
#include "worldgen/terrain_mod.hpp"
#include "worldgen_fixture.hpp"

namespace ostrel_server::worldgen {
namespace {

TEST(PoolStress, ShuffledJobsOnThreeWorkersMatchTheSimulationEngine) {
  test::Mods mods({{"terrain", test::kTerrainMod}, {"idle", "game.register_on_generate(function() end)"}});
  auto sim = mods.load();
  auto pool = Pool::start(mods.spec(sim), 3);
  ASSERT_TRUE(pool) << pool.error().message();

  std::vector<ChunkPos> positions;
  for (int x = -3; x < 3; ++x) {
    for (int y = -1; y < 2; ++y) {
      for (int z = -2; z < 2; ++z) positions.push_back({x, y, z});
    }
  }
  std::shuffle(positions.begin(), positions.end(), std::mt19937(12345));
  constexpr std::uint64_t kSeed = 0xDEADBEEFCAFEull;

  std::map<ChunkPos, Done> got;
  std::size_t next = 0;
  const std::vector<std::string> idle{"idle"};
  while (got.size() < positions.size()) {
    while (next < positions.size() && pool->submit("overworld", positions[next], kSeed)) ++next;
    if (next == positions.size() / 2) pool->fault(idle);  // taken up by the workers mid-run
    (void)pool->busy(ostrel_core::clock::steady().now());
    for (Done& d : test::collect(*pool, 1)) got.emplace(d.pos, std::move(d));
  }
  EXPECT_EQ(pool->in_flight(), 0u);
  for (const ChunkPos pos : positions) {
    auto want = sim.vm.generate_chunk("overworld", kSeed, pos, ostrel_core::material::kAir);
    ASSERT_TRUE(want);
    const Done& d = got.at(pos);
    EXPECT_FALSE(d.stand_in);
    EXPECT_EQ(d.chunk, want->chunk) << pos.x << " " << pos.y << " " << pos.z;
  }
}

TEST(ChannelStress, ManySendersOneReceiverLoseNothing) {
  auto [tx, rx] = channel::make<int>();
  constexpr int kSenders = 4, kEach = 2000;
  std::vector<std::thread> threads;
  for (int s = 0; s < kSenders; ++s) {
    threads.emplace_back([tx = tx, s]() mutable {
      for (int i = 0; i < kEach; ++i) ASSERT_TRUE(tx.send(s * kEach + i));
    });
  }
  tx.reset();
  std::vector<int> seen;
  while (auto v = rx.recv()) seen.push_back(*v);  // ends when the last sender is gone
  for (auto& t : threads) t.join();
  ASSERT_EQ(seen.size(), static_cast<std::size_t>(kSenders * kEach));
  std::sort(seen.begin(), seen.end());
  for (int i = 0; i < kSenders * kEach; ++i) ASSERT_EQ(seen[static_cast<std::size_t>(i)], i);
}

}  // namespace
}  // namespace ostrel_server::worldgen

#include <benchmark/benchmark.h>

#include <functional>
#include <map>
#include <random>
#include <vector>

#include "entities/population.hpp"
#include "movement/ent.hpp"
#include "movement/ent/replicate.hpp"
#include "movement/phys/crowd.hpp"
#include "movement/phys/step.hpp"
#include "world/chunk.hpp"

namespace {

using namespace ostrel_core;
using coords::ChunkPos;

constexpr material::MaterialId kStone = 2;

// Chunks -r..r on x and z, one layer: stone in the bottom block row, air above.
class Flat final : public phys::voxels::Resident {
 public:
  explicit Flat(int r) {
    for (int x = -r; x <= r; ++x) {
      for (int z = -r; z <= r; ++z) {
        chunk::Chunk c = chunk::Chunk::filled({x, 0, z}, material::kAir);
        for (std::uint8_t bx = 0; bx < 16; ++bx)
          for (std::uint8_t bz = 0; bz < 16; ++bz)
            c.set_block_local({bx, 0, bz}, block::BlockValue::whole(kStone));
        chunks_.emplace(ChunkPos{x, 0, z}, std::move(c));
      }
    }
  }
  const chunk::Chunk* resident(ChunkPos pos) const override {
    auto it = chunks_.find(pos);
    return it == chunks_.end() ? nullptr : &it->second;
  }

 private:
  std::map<ChunkPos, chunk::Chunk> chunks_;
};

// One player body walking and turning on flat ground, the tick's per-body work.
void BM_StepShaped(benchmark::State& state) {
  const Flat world(1);
  const phys::voxels::Terrain rules;
  const phys::MoveTuning tuning;
  phys::Body body{{24.0f, 3.0f, 24.0f}, {}, 0, true};
  int tick = 0;
  for (auto _ : state) {
    const phys::voxels::Voxels v(world, rules, nullptr, {0, 0, 0});
    const float turn = (tick++ % 80) < 40 ? 1.0f : -1.0f;
    body = phys::step_shaped(v, body, phys::Intent{turn, 0.3f}, tuning, 1.8f, 5.4f);
    benchmark::DoNotOptimize(body);
  }
}
BENCHMARK(BM_StepShaped);

// 3,000 bodies spread over 10 x 10 chunks, the crowd of a busy server.
void BM_Separate3000Over100Chunks(benchmark::State& state) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> local(0.0f, 48.0f);
  std::uniform_int_distribution<std::int32_t> chunk(0, 9);
  std::vector<phys::crowd::Occupant> crowd;
  for (int i = 0; i < 3000; ++i) {
    crowd.push_back({{chunk(rng), 0, chunk(rng)}, {local(rng), 3.0f, local(rng)}, 5.4f, 1.8f, true, 0});
  }
  for (auto _ : state) benchmark::DoNotOptimize(phys::crowd::separate(crowd));
}
BENCHMARK(BM_Separate3000Over100Chunks)->Unit(benchmark::kMicrosecond);

// One viewer's update over 5,000 entities in view, every one of them creeping along x.
void BM_TrackerUpdate5000(benchmark::State& state) {
  ent::Entities store;
  std::mt19937 rng(2);
  std::uniform_real_distribution<float> local(0.0f, 48.0f);
  std::uniform_int_distribution<std::int32_t> chunk(-6, 6);
  for (int i = 0; i < 5000; ++i) {
    ent::Entity e;
    e.transform.chunk = {chunk(rng), 0, chunk(rng)};
    e.transform.local = {local(rng), 3.0f, local(rng)};
    e.model = "bench:mob";
    e.collider = phys::Shape{1.2f, 2.7f};
    store.spawn(std::move(e));
  }
  const std::vector<ent::EntityId> ids = store.ids();
  ent::replicate::Tracker tracker;
  const std::function<bool(ent::EntityId)> all = [](ent::EntityId) { return true; };
  const ent::replicate::View view{{0, 0, 0}, 8, 12, std::nullopt};
  tracker.update(store, view, all);
  for (auto _ : state) {
    for (ent::EntityId id : ids) store.get_mut(id)->transform.local[0] += 0.05f;
    benchmark::DoNotOptimize(tracker.update(store, view, all));
  }
}
BENCHMARK(BM_TrackerUpdate5000)->Unit(benchmark::kMicrosecond);

// One domain tick of 5,000 walkers on flat ground.
void BM_PopulationTick5000(benchmark::State& state) {
  const Flat world(5);
  const phys::voxels::Terrain rules;
  const ostrel_server::ent::DomainView view{world, nullptr, rules};
  ostrel_server::ent::Population population;
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> local(4.0f, 44.0f);
  std::uniform_real_distribution<float> dir(-1.0f, 1.0f);
  std::uniform_int_distribution<std::int32_t> chunk(-4, 4);
  for (int i = 0; i < 5000; ++i) {
    ent::Entity e;
    e.transform.chunk = {chunk(rng), 0, chunk(rng)};
    e.transform.local = {local(rng), 3.0f, local(rng)};
    e.collider = phys::Shape{1.2f, 2.7f};
    e.on_ground = true;
    e.drive = phys::Intent{dir(rng), dir(rng)};
    e.source = "bench:mobs";
    population.chunk_loaded("overworld", e.transform.chunk, {});
    population.spawn(std::move(e));
  }
  for (auto _ : state) population.tick("overworld", view);
  benchmark::DoNotOptimize(population.entities());
}
BENCHMARK(BM_PopulationTick5000)->Unit(benchmark::kMillisecond);

}  // namespace

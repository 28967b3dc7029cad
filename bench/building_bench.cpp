// Building and inventory: capturing a 64-block box, one stamping pump, the crumble order of a
// dug block, and a give and take through a world container.

#include <benchmark/benchmark.h>

#include <limits>
#include <memory>

#include "building/dig/crumble.hpp"
#include "containers/containers.hpp"
#include "hub/hub.hpp"
#include "persist/sqlite.hpp"
#include "plans/shared.hpp"
#include "scratch.hpp"
#include "world/world.hpp"

namespace {

namespace block = ostrel_core::block;
using ostrel_core::coords::BlockPos;
using ostrel_core::coords::ChunkPos;
using ostrel_server::plans::Names;
using ostrel_server::plans::Queued;

constexpr ostrel_core::material::MaterialId kStone = 2, kDirt = 3;

// 64 x 64 x 64 blocks over 4 x 4 x 4 resident chunks: 14 layers of stone, one of dirt mixed with
// stone, air above: 57,344 whole blocks and 4,096 two-material ones, the most entries a plan holds.
void BM_CaptureResident64Box(benchmark::State& state) {
  ostrel_bench::Scratch dir;
  ostrel_core::material::Registry registry;
  (void)registry.register_material("bench:stone");
  (void)registry.register_material("bench:dirt");
  auto conn = ostrel_core::persist::sqlite::Connection::open(dir.path() / "world.sqlite");
  auto db =
      ostrel_core::persist::WorldDb::from_connection(std::move(*conn), dir.path() / "world.sqlite", registry);
  auto world = ostrel_server::world::World::open(std::move(*db), 1);
  if (!world) {
    state.SkipWithError("could not open the world");
    return;
  }
  block::Cells mixed{};
  for (std::size_t i = 0; i < 27; ++i) mixed[i] = i < 9 ? kStone : kDirt;
  auto& space = world->space_of("overworld");
  for (int cz = 0; cz < 4; ++cz)
    for (int cy = 0; cy < 4; ++cy)
      for (int cx = 0; cx < 4; ++cx) {
        const ChunkPos pos{cx, cy, cz};
        auto c = ostrel_core::chunk::Chunk::filled(pos, cy == 0 ? kStone : 0);
        if (cy == 0) {
          for (std::uint8_t x = 0; x < 16; ++x)
            for (std::uint8_t z = 0; z < 16; ++z) {
              c.set_block_local({x, 14, z}, block::BlockValue::mixed(mixed));
              c.set_block_local({x, 15, z}, block::BlockValue::air());
            }
        }
        space.chunks.insert_or_assign(pos, std::move(c));
      }
  auto slot = std::make_shared<ostrel_server::lease::WorldSlot>();
  (*slot->lock())->emplace(std::move(*world));
  ostrel_server::plans::Shared plans(
      slot,
      std::make_shared<const Names>(std::map<std::string, ostrel_core::material::MaterialId, std::less<>>{
          {"bench:stone", kStone}, {"bench:dirt", kDirt}}),
      nullptr);
  for (auto _ : state) {
    auto p = plans.capture("overworld", {0, 0, 0}, {63, 63, 63});
    if (!p || p->cells.size() != 65'536) state.SkipWithError("unexpected capture");
    benchmark::DoNotOptimize(p);
  }
  state.counters["blocks"] =
      benchmark::Counter(64.0 * 64 * 64, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_CaptureResident64Box)->Unit(benchmark::kMillisecond);

// Accepts every write and forgets it.
struct Sink final : ostrel_server::plans::EditQueue {
  std::uint64_t n = 0;
  Queued queue_seed(std::string_view, const ostrel_server::transport::endpoint::Seed&) override {
    ++n;
    return Queued::Queued;
  }
  Queued queue_merge(std::string_view, BlockPos, ostrel_core::material::MaterialId, std::uint32_t) override {
    ++n;
    return Queued::Queued;
  }
  bool is_whole(ostrel_core::material::MaterialId) const override { return false; }
};

// One pump of 256 units: a plan of 256 whole blocks, queued again outside the timing.
void BM_StampPump256Units(benchmark::State& state) {
  auto names = std::make_shared<const Names>(
      std::map<std::string, ostrel_core::material::MaterialId, std::less<>>{{"bench:stone", kStone}});
  ostrel_core::plan::Plan plan{.w = 16, .h = 1, .d = 16};
  for (std::uint16_t z = 0; z < 16; ++z)
    for (std::uint16_t x = 0; x < 16; ++x) (void)plan.set(x, 0, z, "bench:stone", block::kOccupancyFull);
  ostrel_server::plans::Stamps stamps(names);
  Sink sink;
  for (auto _ : state) {
    state.PauseTiming();
    stamps.enqueue("overworld", {0, 0, 0}, ostrel_server::plans::PlanSource{plan, {}});
    state.ResumeTiming();
    if (stamps.pump(sink) != 256) state.SkipWithError("the pump did not write 256 units");
  }
}
BENCHMARK(BM_StampPump256Units);

void BM_CrumbleOrder(benchmark::State& state) {
  std::int32_t x = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ostrel_core::dig::crumble_order(7, {x++, 64, -3}, {0.3, -1.2, 0.4}));
  }
}
BENCHMARK(BM_CrumbleOrder);

// One give and one take of 40 units of stone through a 27-slot container nobody holds.
void BM_ContainerGiveAndTake(benchmark::State& state) {
  auto hub = ostrel_server::transport::endpoint::Shared::create({});
  ostrel_server::containers::Shared boxes(hub, nullptr);
  boxes.ensure("chest", 27);
  const ostrel_core::inventory::Stack stone{.material = kStone, .units = 40};
  for (auto _ : state) {
    if (boxes.give("chest", std::nullopt, stone) != 40) state.SkipWithError("give");
    if (boxes.take("chest", std::nullopt, stone, 40) != 40) state.SkipWithError("take");
  }
}
BENCHMARK(BM_ContainerGiveAndTake);

}  // namespace

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "movement/ent.hpp"
#include "building/inventory/slots.hpp"
#include "world/material.hpp"
#include "persist/records/entity_record.hpp"
#include "persist/rows/entity_rows.hpp"
#include "persist/records/playerdata.hpp"
#include "persist/world_db.hpp"

namespace {

using namespace ostrel_core;

ent::Entity sample_entity(int i) {
  ent::Entity e;
  e.transform = ent::component::Transform::from_world(i * 1.5, 64, -i * 0.25);
  e.velocity = {0.1f, -0.5f, 0.0f};
  e.collider = phys::Shape{1.8f, 5.4f};
  e.model = "engine:humanoid";
  e.health = ent::component::Health{20, 20};
  e.source = "bench:mobs";
  if (i % 3 == 0) e.item = inventory::Stack{2, 27, {}, {}, {}};
  return e;
}

// One save batch of the simulation: 32 chunks of 10 entities each, encoded and written in one
// transaction.
void BM_SaveEntities32Chunks(benchmark::State& state) {
  std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) {
    state.SkipWithError("no temporary directory");
    return;
  }
  const std::filesystem::path dir = pattern;
  {
    material::Registry registry;
    (void)registry.register_material("bench:stone");
    auto conn = persist::sqlite::Connection::open(dir / "world.sqlite");
    auto world = persist::WorldDb::from_connection(std::move(*conn), dir / "world.sqlite", registry);
    if (!world) {
      state.SkipWithError("could not open the world");
      return;
    }
    std::vector<persist::entity_rows::ChunkEntities> batch;
    for (int c = 0; c < 32; ++c) {
      persist::entity_rows::ChunkEntities chunk{{c, 4, -c}, {}};
      for (int i = 0; i < 10; ++i) chunk.entities.push_back(sample_entity(c * 10 + i));
      batch.push_back(std::move(chunk));
    }
    for (auto _ : state) {
      auto r = persist::entity_rows::save_chunk_entities_batch_in(*world, "overworld", batch);
      if (!r) state.SkipWithError("save failed");
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * 320);
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveEntities32Chunks)->Unit(benchmark::kMillisecond);

void BM_EncodeDecodeEntity(benchmark::State& state) {
  const ent::Entity e = sample_entity(3);
  for (auto _ : state) {
    auto bytes = persist::entity_record::encode(e);
    auto back = persist::entity_record::decode(bytes);
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_EncodeDecodeEntity);

// Random clicks on a full player inventory.
void BM_SlotClicks(benchmark::State& state) {
  auto slots = inventory::slots::Slots::for_player_sized(std::nullopt, {});
  for (int i = 0; i < 20; ++i)
    (void)slots.insert_within("player:main", inventory::Stack{2, 2000u + i, {}, {}, {}});
  std::mt19937 rng(7);
  for (auto _ : state) {
    const std::size_t slot = rng() % 28;
    switch (rng() % 3) {
      case 0:
        benchmark::DoNotOptimize(slots.left_click("player:main", slot));
        break;
      case 1:
        benchmark::DoNotOptimize(slots.split_or_place("player:main", slot, false));
        break;
      case 2:
        benchmark::DoNotOptimize(slots.stow("player:main", slot, 9));
        break;
    }
  }
}
BENCHMARK(BM_SlotClicks);

// One give of the largest stack a mod can hand over into a 9-slot registered view: the view
// grows to its 256-slot cap and the rest is handed back.
void BM_InsertWithinHugeStack(benchmark::State& state) {
  const inventory::slots::ViewDef defs[] = {{"mod:belt", 9}};
  const auto fresh = inventory::slots::Slots::for_player_sized(std::nullopt, defs);
  for (auto _ : state) {
    state.PauseTiming();
    auto slots = fresh;
    state.ResumeTiming();
    auto rest = slots.insert_within("mod:belt", inventory::Stack{2, 0xFFFF'FFFFu, {}, {}, {}});
    benchmark::DoNotOptimize(rest);
  }
}
BENCHMARK(BM_InsertWithinHugeStack)->Unit(benchmark::kMicrosecond);

// A full 28-slot inventory through the player record and back.
void BM_PlayerRecordRoundTrip(benchmark::State& state) {
  auto slots = inventory::slots::Slots::for_player_sized(std::nullopt, {});
  for (auto& s : slots.find("player:main")->slots) s = inventory::Stack{2, 100, 0x1FF, "bench", {}};
  const auto map = persist::idmap::MaterialMap::identity_map();
  for (auto _ : state) {
    auto encoded = persist::playerdata::encode(slots, map);
    auto back = persist::playerdata::decode(3, encoded.bytes, slots, map);
    benchmark::DoNotOptimize(back);
  }
}
BENCHMARK(BM_PlayerRecordRoundTrip);

}  // namespace

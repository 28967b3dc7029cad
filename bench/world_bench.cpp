// Server world save figures: one save call writing a batch of 32 dirty chunks against a world
// that holds 5,000 summary rows (the summaries index in place), as the loop's 8 ms budget sees it.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <filesystem>
#include <random>
#include <string>

#include "world/chunk.hpp"
#include "world/material.hpp"
#include "persist/world_db.hpp"
#include "world/world.hpp"

namespace {

using namespace ostrel_core;
using ostrel_server::world::World;

constexpr int kBatch = 32;
constexpr int kSummaryRows = 5000;

// Stone with scattered dirt and a few carved blocks: a palette of several entries.
chunk::Chunk ground_chunk(coords::ChunkPos pos, std::mt19937& rng) {
  chunk::Chunk c = chunk::Chunk::filled(pos, 2);
  for (int i = 0; i < 600; ++i) {
    const coords::LocalPos at{static_cast<std::uint8_t>(rng() % 16), static_cast<std::uint8_t>(rng() % 16),
                              static_cast<std::uint8_t>(rng() % 16)};
    c.set_block_local(
        at, rng() % 5 == 0 ? block::BlockValue::partial(3, rng() & 0x7FFFFFF) : block::BlockValue::whole(3));
  }
  return c;
}

void BM_SaveBatchOf32With5000Summaries(benchmark::State& state) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("ostrel-world-bench-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  {
    material::Registry registry;
    (void)registry.register_material("bench:stone");
    (void)registry.register_material("bench:dirt");
    auto conn = persist::sqlite::Connection::open(dir / "world.sqlite");
    auto db = persist::WorldDb::from_connection(std::move(*conn), dir / "world.sqlite", registry);
    if (!db) {
      state.SkipWithError("could not open the world");
      return;
    }
    // 1,000 chunks' summaries, five levels each, beside the chunks being saved.
    auto& c = db->connection();
    (void)c.begin();
    auto ins = c.prepare(
        "INSERT INTO chunk_summaries (domain, level, x, y, z, data) VALUES ('overworld', ?1, ?2, ?3, ?4, "
        "x'0102')");
    for (int i = 0; i < kSummaryRows; ++i) {
      (void)ins->bind_i64(1, 1 + i % 5);
      (void)ins->bind_i64(2, 100 + (i / 5) % 40);
      (void)ins->bind_i64(3, (i / 5) / 40);
      (void)ins->bind_i64(4, -7);
      (void)ins->run();
      ins->reset();
    }
    (void)c.commit();
    auto world = World::open(std::move(*db), 1);
    std::mt19937 rng(11);
    auto& space = world->space_of("overworld");
    for (int i = 0; i < kBatch; ++i) {
      const coords::ChunkPos pos{i % 8, i / 8, 0};
      space.chunks.insert_or_assign(pos, ground_chunk(pos, rng));
    }
    for (auto _ : state) {
      state.PauseTiming();
      for (int i = 0; i < kBatch; ++i) world->space_of("overworld").mark_dirty({i % 8, i / 8, 0});
      state.ResumeTiming();
      auto got = world->save_dirty_within(std::chrono::milliseconds(8));
      if (got.written != kBatch) state.SkipWithError("the batch was not written");
    }
    state.counters["chunks"] =
        benchmark::Counter(static_cast<double>(state.iterations() * kBatch), benchmark::Counter::kIsRate);
    (void)World::close(std::move(*world));
  }
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveBatchOf32With5000Summaries)->Unit(benchmark::kMillisecond);

}  // namespace

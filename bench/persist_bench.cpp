// World database figures: chunk blob encode and decode (chunks per second on one core) beside
// raw zstd level 3 on the same payload bytes, a save of 32 chunks in one transaction, and the
// load of one stored chunk.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

#include "world/chunk.hpp"
#include "world/material.hpp"
#include "persist/records/codec.hpp"
#include "persist/compress.hpp"
#include "persist/world_db.hpp"

namespace {

using namespace ostrel_core;
using block::BlockValue;
using chunk::Chunk;
using coords::LocalPos;

// Rolling ground: stone with ore below a height field, dirt, a grass top, a few carved
// (partial) blocks and mixed blocks near the surface, air above.
Chunk terrain_chunk() {
  std::mt19937 rng(7);
  Chunk c = Chunk::filled({0, 0, 0}, 0);
  for (std::uint8_t z = 0; z < 16; ++z) {
    for (std::uint8_t x = 0; x < 16; ++x) {
      const int height = 8 + (x * 3 + z * 5) % 5;
      for (std::uint8_t y = 0; y < 16; ++y) {
        const LocalPos at{x, y, z};
        if (y < height - 3) {
          c.set_block_local(at, BlockValue::whole(rng() % 40 == 0 ? 5 : 2));
        } else if (y < height) {
          c.set_block_local(at, BlockValue::whole(3));
        } else if (y == height) {
          if (rng() % 16 == 0) {
            block::Cells cells{};
            for (int i = 0; i < 9; ++i) cells[i] = 4;
            cells[9 + rng() % 18] = 6;
            c.set_block_local(at, BlockValue::mixed(cells));
          } else if (rng() % 8 == 0) {
            c.set_block_local(at, BlockValue::partial(4, 0x1FF));
          } else {
            c.set_block_local(at, BlockValue::whole(4));
          }
        }
      }
    }
  }
  return c;
}

// Every block a different mixed array: 4096 palette entries and 4096 mixed slots.
Chunk worst_chunk() {
  std::mt19937 rng(11);
  Chunk c = Chunk::filled({0, 0, 0}, 0);
  for (std::uint16_t i = 0; i < 4096; ++i) {
    block::Cells cells{};
    for (auto& m : cells) m = static_cast<material::MaterialId>(rng() % 300);
    cells[0] = static_cast<material::MaterialId>(300 + i);  // distinct
    cells[1] = 1;
    c.set_block_local(LocalPos::from_index(i), BlockValue::mixed(cells));
  }
  return c;
}

// Runtime id r is world id r + 7: a map that translates every id, as a real world's does.
const persist::idmap::MaterialMap& world_map() {
  static const persist::idmap::MaterialMap map = [] {
    persist::idmap::MaterialMap m;
    for (std::uint16_t r = 0; r < 5000; ++r) {
      m.forward.push_back(static_cast<std::uint16_t>(r + 7));
      m.reverse[static_cast<std::uint16_t>(r + 7)] = r;
    }
    m.build_lookup();
    return m;
  }();
  return map;
}

const Chunk& sample(int which) {
  static const Chunk terrain = terrain_chunk();
  static const Chunk worst = worst_chunk();
  return which == 0 ? terrain : worst;
}

void label(benchmark::State& state, std::size_t bytes) {
  state.SetItemsProcessed(state.iterations());  // items/s = chunks per second
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetLabel(state.range(0) == 0 ? "terrain" : "worst_4096_contents");
}

void BM_EncodeChunk(benchmark::State& state) {
  const Chunk& c = sample(static_cast<int>(state.range(0)));
  std::size_t bytes = 0;
  for (auto _ : state) {
    auto blob = persist::codec::encode_chunk(c, world_map());
    bytes = blob->size();
    benchmark::DoNotOptimize(blob);
  }
  label(state, bytes);
}

void BM_DecodeChunk(benchmark::State& state) {
  const Chunk& c = sample(static_cast<int>(state.range(0)));
  const auto blob = *persist::codec::encode_chunk(c, world_map());
  for (auto _ : state) {
    auto back = persist::codec::decode_chunk({0, 0, 0}, blob, world_map(), {});
    if (!back) state.SkipWithError("decode failed");
    benchmark::DoNotOptimize(back);
  }
  label(state, blob.size());
}

// zstd alone on the payload bytes the blob holds.
void BM_ZstdCompressPayload(benchmark::State& state) {
  const Chunk& c = sample(static_cast<int>(state.range(0)));
  const auto payload = persist::codec::write_payload(c.to_parts());
  for (auto _ : state) {
    auto frame = persist::compress(payload);
    benchmark::DoNotOptimize(frame);
  }
  label(state, payload.size());
}

void BM_ZstdDecompressPayload(benchmark::State& state) {
  const Chunk& c = sample(static_cast<int>(state.range(0)));
  const auto frame = *persist::compress(persist::codec::write_payload(c.to_parts()));
  for (auto _ : state) {
    auto payload = persist::decompress(frame, persist::codec::kMaxPayloadBytes);
    benchmark::DoNotOptimize(payload);
  }
  label(state, frame.size());
}

BENCHMARK(BM_EncodeChunk)->Arg(0)->Arg(1);
BENCHMARK(BM_DecodeChunk)->Arg(0)->Arg(1);
BENCHMARK(BM_ZstdCompressPayload)->Arg(0)->Arg(1);
BENCHMARK(BM_ZstdDecompressPayload)->Arg(0)->Arg(1);

// A world in a fresh temporary directory with a few materials, removed with its directory.
class BenchWorld {
 public:
  BenchWorld() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ostrel-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    material::Registry registry;
    for (int i = 2; i < 8; ++i) (void)registry.register_material("bench:m" + std::to_string(i));
    auto conn = persist::sqlite::Connection::open(dir_ / "world.sqlite");
    if (!conn) return;
    auto world = persist::WorldDb::from_connection(std::move(*conn), dir_ / "world.sqlite", registry);
    if (world) world_.emplace(std::move(*world));
  }
  ~BenchWorld() {
    world_.reset();
    std::error_code ec;
    if (!dir_.empty()) std::filesystem::remove_all(dir_, ec);
  }
  BenchWorld(const BenchWorld&) = delete;
  BenchWorld& operator=(const BenchWorld&) = delete;

  // Null when the directory or the world could not be made.
  persist::WorldDb* get() { return world_ ? &*world_ : nullptr; }

 private:
  std::filesystem::path dir_;
  std::optional<persist::WorldDb> world_;
};

const std::string kUpsertChunk =
    "INSERT INTO chunks (domain, x, y, z, version, data)\n"
    "                 VALUES (?1, ?2, ?3, ?4, ?5, ?6)\n"
    "                 ON CONFLICT(domain, x, y, z) DO UPDATE SET version = excluded.version,\n"
    "                                                            data = excluded.data";
const std::string kForgetSummaries =
    "DELETE FROM chunk_summaries WHERE domain = ?1 AND x = ?2 AND y = ?3 AND z = ?4";

// 32 terrain chunks encoded and upserted, each with its summaries forgotten, in one deferred
// transaction with cached statements: the shape of one save batch.
void BM_Save32Chunks(benchmark::State& state) {
  BenchWorld bench;
  persist::WorldDb* world = bench.get();
  if (world == nullptr) {
    state.SkipWithError("could not open the world");
    return;
  }
  auto& db = world->connection();
  const Chunk& c = sample(0);
  std::int32_t round = 0;
  for (auto _ : state) {
    bool ok = static_cast<bool>(db.begin());
    {
      auto up = db.cached(kUpsertChunk);
      auto del = db.cached(kForgetSummaries);
      for (std::int32_t i = 0; i < 32 && ok; ++i) {
        const coords::ChunkPos pos{i % 8, round % 4, i / 8};
        auto blob = world->encode("overworld", pos, c);
        del->reset();
        ok = blob && persist::bind_chunk(*del, "overworld", pos) && del->run();
        up->reset();
        ok = ok && persist::bind_chunk(*up, "overworld", pos) && up->bind_i64(5, 1) && up->bind_blob(6, *blob) &&
             up->run();
      }
    }
    ok = ok && db.commit();
    if (!ok) {
      db.rollback();
      state.SkipWithError("save failed");
      break;
    }
    ++round;
  }
  state.SetItemsProcessed(state.iterations() * 32);  // items/s = chunks saved per second
}
BENCHMARK(BM_Save32Chunks)->Unit(benchmark::kMillisecond);

// One stored terrain chunk read back through WorldDb: the row lookup and the blob decode.
void BM_LoadChunk(benchmark::State& state) {
  BenchWorld bench;
  persist::WorldDb* world = bench.get();
  if (world == nullptr) {
    state.SkipWithError("could not open the world");
    return;
  }
  const coords::ChunkPos pos{0, 0, 0};
  {
    auto blob = world->encode("overworld", pos, sample(0));
    auto up = world->connection().cached(kUpsertChunk);
    if (!blob || !up || !persist::bind_chunk(*up, "overworld", pos) || !up->bind_i64(5, 1) ||
        !up->bind_blob(6, *blob) || !up->run()) {
      state.SkipWithError("could not store the chunk");
      return;
    }
  }
  for (auto _ : state) {
    auto chunk = world->load_chunk_in("overworld", pos);
    if (!chunk || !*chunk) {
      state.SkipWithError("load failed");
      break;
    }
    benchmark::DoNotOptimize(chunk);
  }
  state.SetItemsProcessed(state.iterations());  // items/s = chunks loaded per second
}
BENCHMARK(BM_LoadChunk);

}  // namespace

// Start-up: the first stage (mods loaded and frozen, materials, content index, world database)
// and the client content tables, for 20 mods of 50 blocks each with a texture per block.
#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <filesystem>
#include <optional>
#include <string>

#include "base/log.hpp"
#include "scratch.hpp"
#include "start/stage_mods.hpp"
#include "start/tables.hpp"

namespace {

namespace fs = std::filesystem;
using namespace ostrel_server::handle;

constexpr int kMods = 20;
constexpr int kBlocksPerMod = 50;

using ostrel_bench::Scratch;
using ostrel_bench::write;

// Mod `mNN` registers blocks b0..b49, each with its own 2 KiB texture and a few rules.
void write_mods(const fs::path& mods) {
  for (int m = 0; m < kMods; ++m) {
    const std::string id = fmt::format("m{:02}", m);
    std::string init;
    for (int b = 0; b < kBlocksPerMod; ++b) {
      init += fmt::format(
          "game.register_block{{ id = 'b{0}', textures = {{ all = 'textures/b{0}.png' }}, hardness = 1.5, "
          "friction = 0.8, sounds = {{ step = 'step' }}, tags = {{ 'stone' }} }}\n",
          b);
      write(mods / id / "textures" / fmt::format("b{}.png", b),
            std::string(2048, static_cast<char>('a' + b % 26)) + id);
    }
    write(mods / id / "mod.toml", fmt::format("id = \"{}\"\nname = \"{}\"\nversion = \"1.0.0\"\n", id, id));
    write(mods / id / "init.lua", init);
  }
}

void quiet_log() {
  ostrel_core::log::install({});
  ostrel_core::log::set_sink([](std::string_view, void*) {}, nullptr);
}

Settings settings_in(const Scratch& dir) {
  Settings s;
  s.world_path = dir.path() / "world";
  s.mods_path = dir.path() / "mods";
  return s;
}

// The mods written and the first stage run once, for what follows it.
struct Loaded {
  Loaded() {
    quiet_log();
    write_mods(dir.path() / "mods");
    if (auto r = load_mods_and_world(settings_in(dir))) stage.emplace(std::move(*r));
  }
  Scratch dir;
  std::optional<ModsAndWorld> stage;
};

// The whole first stage on a new world; the world directory is removed between runs, untimed.
void BM_StageOne(benchmark::State& state) {
  quiet_log();
  Scratch dir;
  write_mods(dir.path() / "mods");
  const auto s = settings_in(dir);
  for (auto _ : state) {
    {
      auto stage = load_mods_and_world(s);
      if (!stage) {
        state.SkipWithError("stage one failed");
        break;
      }
      benchmark::DoNotOptimize(stage);
      state.PauseTiming();
    }  // the world closes here, untimed
    fs::remove_all(s.world_path);
    state.ResumeTiming();
  }
  state.counters["materials"] = kMods * kBlocksPerMod + 2;
}
BENCHMARK(BM_StageOne)->Unit(benchmark::kMillisecond);

// Every content table from the loaded mods, in stage order.
void BM_Tables(benchmark::State& state) {
  Loaded loaded;
  auto& stage = loaded.stage;
  if (!stage) {
    state.SkipWithError("stage one failed");
    return;
  }
  for (auto _ : state) {
    auto tables = build_tables(stage->registry, stage->world.materials(), stage->content, &*stage->host);
    benchmark::DoNotOptimize(tables);
  }
}
BENCHMARK(BM_Tables)->Unit(benchmark::kMillisecond);

// The material table alone, from registrations already read back: the lookups per material.
void BM_MaterialTable(benchmark::State& state) {
  Loaded loaded;
  auto& stage = loaded.stage;
  if (!stage) {
    state.SkipWithError("stage one failed");
    return;
  }
  const auto& vm = stage->host->vm;
  const auto textures = ostrel_core::script::records::registered_block_textures(vm);
  const auto rules = ostrel_core::script::records::registered_block_rules(vm);
  const auto items = ostrel_core::script::records::registered_items(vm);
  for (auto _ : state) {
    auto table =
        material_table(stage->registry, stage->world.materials(), stage->content, textures, rules, items);
    benchmark::DoNotOptimize(table);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(stage->registry.size()));
}
BENCHMARK(BM_MaterialTable)->Unit(benchmark::kMicrosecond);

}  // namespace

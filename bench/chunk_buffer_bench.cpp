// Chunk buffer fills per chunk: each fill with and without its bounds shortcut, and a typical
// generator's recipe (palette, layers, cover, scatter, sea), which a server needs at about a
// millisecond a chunk on one core.

#include <benchmark/benchmark.h>

#include "detgen/buffer/chunk_buffer.hpp"
#include "detgen/buffer/sample_recipe.hpp"

namespace {

using namespace ostrel_core::detgen;
using buffer::ChunkBuffer;

const buffer::sample::Recipe& recipe() {
  static const buffer::sample::Recipe r = buffer::sample::make_recipe();
  return r;
}

// Chunk y 0 crosses the recipe's surface; chunk y 4 lies above it (the shortcut).
void BM_FillDensity(benchmark::State& state) {
  const ostrel_core::coords::ChunkPos pos{1, static_cast<std::int32_t>(state.range(0)), 2};
  for (auto _ : state) {
    ChunkBuffer b(pos);
    benchmark::DoNotOptimize(b.fill_density(recipe().ground, 7, buffer::sample::kStone));
  }
}
BENCHMARK(BM_FillDensity)->Arg(0)->Arg(4)->Arg(-4)->Unit(benchmark::kMicrosecond);

void BM_FillDensityDetail(benchmark::State& state) {
  const ostrel_core::coords::ChunkPos pos{1, static_cast<std::int32_t>(state.range(0)), 2};
  for (auto _ : state) {
    ChunkBuffer b(pos);
    benchmark::DoNotOptimize(
        b.fill_density_detail(recipe().ground, 7, buffer::sample::kStone, state.range(1) != 0));
  }
}
BENCHMARK(BM_FillDensityDetail)->Args({0, 1})->Args({0, 0})->Args({4, 1})->Unit(benchmark::kMicrosecond);

void BM_FillPalette(benchmark::State& state) {
  const ostrel_core::coords::ChunkPos pos{1, static_cast<std::int32_t>(state.range(0)), 2};
  for (auto _ : state) {
    ChunkBuffer b(pos);
    if (state.range(1) != 0) {
      benchmark::DoNotOptimize(b.fill_palette_detail(recipe().ground, 7, recipe().bands, true));
    } else {
      benchmark::DoNotOptimize(b.fill_palette(recipe().ground, 7, recipe().bands));
    }
  }
}
BENCHMARK(BM_FillPalette)->Args({0, 0})->Args({0, 1})->Args({-4, 0})->Unit(benchmark::kMicrosecond);

void BM_FillLayers(benchmark::State& state) {
  const ostrel_core::coords::ChunkPos pos{1, static_cast<std::int32_t>(state.range(0)), 2};
  ChunkBuffer base(pos);
  (void)base.fill_palette(recipe().ground, 7, recipe().bands);
  for (auto _ : state) {
    ChunkBuffer b = base;
    benchmark::DoNotOptimize(b.fill_layers(recipe().ground, recipe().code, 7, recipe().layers));
  }
}
BENCHMARK(BM_FillLayers)->Arg(0)->Arg(4)->Unit(benchmark::kMicrosecond);

void BM_FillCover(benchmark::State& state) {
  const ostrel_core::coords::ChunkPos pos{1, static_cast<std::int32_t>(state.range(0)), 2};
  ChunkBuffer base(pos);
  (void)base.fill_palette(recipe().ground, 7, recipe().bands);
  for (auto _ : state) {
    ChunkBuffer b = base;
    benchmark::DoNotOptimize(b.fill_cover(buffer::sample::kFern, 2, nullptr, 7, {}));
  }
}
BENCHMARK(BM_FillCover)->Arg(0)->Arg(-4)->Unit(benchmark::kMicrosecond);

void BM_Scatter(benchmark::State& state) {
  const ostrel_core::coords::ChunkPos pos{1, static_cast<std::int32_t>(state.range(0)), 2};
  buffer::ScatterSpec s;
  s.depth = &recipe().ground;
  s.schematics = {&recipe().post, &recipe().slab};
  s.cell = 6;
  s.chance = 0.4f;
  for (auto _ : state) {
    ChunkBuffer b(pos);
    benchmark::DoNotOptimize(b.scatter(7, s));
  }
}
BENCHMARK(BM_Scatter)->Arg(0)->Arg(8)->Unit(benchmark::kMicrosecond);

void BM_FluidFills(benchmark::State& state) {
  const ostrel_core::coords::ChunkPos pos{1, 0, 2};
  ChunkBuffer base(pos);
  (void)base.fill_palette(recipe().ground, 7, recipe().bands);
  buffer::TerracedSpec t;
  t.level = &recipe().level;
  t.within = &recipe().within;
  t.lip = buffer::sample::kLip;
  t.fluid = 2;
  for (auto _ : state) {
    ChunkBuffer b = base;
    if (state.range(0) != 0) {
      benchmark::DoNotOptimize(b.fill_fluid_terraced(7, t));
    } else {
      b.fill_fluid_below(16, 1);
    }
    benchmark::DoNotOptimize(b.fluid().wet());
  }
}
BENCHMARK(BM_FluidFills)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_TypicalRecipe(benchmark::State& state) {
  const ostrel_core::coords::ChunkPos pos{1, static_cast<std::int32_t>(state.range(0)), 2};
  for (auto _ : state) {
    ChunkBuffer b(pos);
    buffer::sample::run_typical(b, recipe(), 7);
    benchmark::DoNotOptimize(b.to_chunk());
  }
}
BENCHMARK(BM_TypicalRecipe)->Arg(0)->Arg(-4)->Arg(4)->Unit(benchmark::kMicrosecond);

}  // namespace

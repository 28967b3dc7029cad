// Generation math figures: noise fills, a 10-operation density program over a chunk (4096
// samples) and over a chunk's detail lattice (5832 corners) with a kept scratch, its bound, and
// whole-map passes on a 1024 x 1024 map. The `allocs` counter is heap allocations per
// iteration, which must be 0 for fills, bounds and evaluations with a kept scratch.

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

#include "detgen/density.hpp"
#include "detgen/map.hpp"
#include "allocations.hpp"
#include "detgen/noise.hpp"
#include "detgen/rng.hpp"


namespace {

using namespace ostrel_core::detgen;

void count_allocations(benchmark::State& state, std::size_t before) {
  state.counters["allocs"] =
      benchmark::Counter(static_cast<double>(ostrel_bench::allocations() - before), benchmark::Counter::kAvgIterations);
}

const noise::Grid3 kChunk{16, 16, 16, 160.0f, 48.0f, -320.0f, 1.0f};
const noise::Grid3 kLattice{18, 18, 18, 160.0f, 48.0f, -320.0f, 1.0f};

// Ten operations: 3D hills over a falling plane, ground noise, a river's contour clamped.
density::Density ten_ops() {
  density::Op::Noise hills;
  hills.stream = rng::fnv1a64("hills");
  hills.amplitude = 24.0f;
  hills.stretch = {1.0f, 2.0f, 1.0f};
  density::Op::Noise2 ground;
  ground.stream = rng::fnv1a64("ground");
  ground.amplitude = 12.0f;
  density::Op::Contour river;
  river.stream = rng::fnv1a64("river");
  river.is_signed = true;
  using density::Op;
  return *density::Density::compile({hills, Op::Coord{1}, Op::Const{0.5f}, Op::Mul{}, Op::Sub{}, ground,
                                     Op::Add{}, river, Op::Clamp{-4.0f, 4.0f}, Op::Min{}});
}

void BM_Fill3dChunk4Octaves(benchmark::State& state) {
  std::vector<float> out(4096);
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) {
    benchmark::DoNotOptimize(noise::fill_3d(1, kChunk, {}, out));
    benchmark::ClobberMemory();
  }
  count_allocations(state, before);
}
BENCHMARK(BM_Fill3dChunk4Octaves);

void BM_Fill2dColumns4Octaves(benchmark::State& state) {
  std::vector<float> out(256);
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) {
    benchmark::DoNotOptimize(noise::fill_2d(1, {16, 16, 160.0f, -320.0f, 1.0f, 1.0f}, {}, out));
    benchmark::ClobberMemory();
  }
  count_allocations(state, before);
}
BENCHMARK(BM_Fill2dColumns4Octaves);

void evaluate(benchmark::State& state, const noise::Grid3& grid) {
  const density::Density d = ten_ops();
  std::vector<float> out(noise::sample_count(grid));
  density::Scratch scratch;
  benchmark::DoNotOptimize(d.evaluate_with(7, grid, out, scratch));  // the scratch's first use
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) {
    benchmark::DoNotOptimize(d.evaluate_with(7, grid, out, scratch));
    benchmark::ClobberMemory();
  }
  count_allocations(state, before);
}

void BM_TenOpProgramOverChunk(benchmark::State& state) { evaluate(state, kChunk); }
BENCHMARK(BM_TenOpProgramOverChunk)->Unit(benchmark::kMicrosecond);

void BM_TenOpProgramOverDetailLattice(benchmark::State& state) { evaluate(state, kLattice); }
BENCHMARK(BM_TenOpProgramOverDetailLattice)->Unit(benchmark::kMicrosecond);

void BM_TenOpProgramBound(benchmark::State& state) {
  const density::Density d = ten_ops();
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) benchmark::DoNotOptimize(d.bounds(7, kChunk));
  count_allocations(state, before);
}
BENCHMARK(BM_TenOpProgramBound)->Unit(benchmark::kMicrosecond);

map::Map big_map(std::uint64_t seed) {
  map::Map m = *map::Map::create(1024, 4, -2048, -2048);
  m.noise(seed, {}, 30.0f);
  return m;
}

void BM_MapNoise1024(benchmark::State& state) {
  map::Map m = *map::Map::create(1024, 4, -2048, -2048);
  for (auto _ : state) {
    m.noise(1, {}, 30.0f);
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_MapNoise1024)->Unit(benchmark::kMillisecond);

void BM_MapBlurRadius8_1024(benchmark::State& state) {
  map::Map m = big_map(1);
  for (auto _ : state) benchmark::DoNotOptimize(m.blur(8));
}
BENCHMARK(BM_MapBlurRadius8_1024)->Unit(benchmark::kMillisecond);

void BM_MapCombine1024(benchmark::State& state) {
  map::Map m = big_map(1);
  const map::Map other = big_map(2);
  for (auto _ : state) benchmark::DoNotOptimize(m.combine(other, map::CombineWay::Max));
}
BENCHMARK(BM_MapCombine1024)->Unit(benchmark::kMillisecond);

}  // namespace

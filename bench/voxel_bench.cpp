// Block reads and writes: the packed index array and the chunk's hot paths. Each benchmark
// reports `allocs` per iteration from a counting global operator new; the paths measured here
// must show 0.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <random>
#include <vector>

#include "allocations.hpp"
#include "base/bitpack.hpp"
#include "world/chunk.hpp"

namespace ostrel_core {
namespace {

using block::BlockValue;
using chunk::Chunk;
using coords::LocalPos;

// 4096 block indices in a scattered order, so reads are not a linear walk.
std::vector<std::uint16_t> scattered_indices() {
  std::vector<std::uint16_t> v(4096);
  for (std::uint16_t i = 0; i < 4096; ++i) v[i] = static_cast<std::uint16_t>((i * 2731u) & 4095);
  return v;
}

void report_allocs(benchmark::State& state, std::size_t before) {
  state.counters["allocs"] = benchmark::Counter(
      static_cast<double>(ostrel_bench::allocations() - before), benchmark::Counter::kAvgIterations);
}

void BM_BitArrayGet(benchmark::State& state) {
  const auto width = static_cast<std::uint8_t>(state.range(0));
  bitpack::BitArray a(4096, width);
  for (std::size_t i = 0; i < 4096; ++i) a.set(i, static_cast<std::uint32_t>(i) & ((1u << width) - 1));
  const auto order = scattered_indices();
  std::size_t k = 0;
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) {
    benchmark::DoNotOptimize(a.get(order[k]));
    k = (k + 1) & 4095;
  }
  report_allocs(state, before);
}
BENCHMARK(BM_BitArrayGet)->Arg(1)->Arg(5)->Arg(12)->Arg(13)->Arg(16);

void BM_BitArraySet(benchmark::State& state) {
  const auto width = static_cast<std::uint8_t>(state.range(0));
  bitpack::BitArray a(4096, width);
  const auto order = scattered_indices();
  const std::uint32_t mask = (1u << width) - 1;
  std::size_t k = 0;
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) {
    a.set(order[k], static_cast<std::uint32_t>(k) & mask);
    k = (k + 1) & 4095;
  }
  benchmark::DoNotOptimize(a.words().data());
  report_allocs(state, before);
}
BENCHMARK(BM_BitArraySet)->Arg(1)->Arg(5)->Arg(12)->Arg(13)->Arg(16);

// A chunk holding `distinct` whole contents, a few Partial and mixed blocks among them.
Chunk varied_chunk(int distinct) {
  Chunk c = Chunk::filled({0, 0, 0}, 0);
  for (int i = 0; i < 4096; ++i) {
    const auto m = static_cast<material::MaterialId>(i % distinct);
    c.set_block_local(LocalPos::from_index(static_cast<std::uint16_t>(i)), BlockValue::whole(m));
  }
  block::Cells cells{};
  cells[0] = 2;
  cells[26] = 3;
  c.set_block_local({1, 1, 1}, BlockValue::mixed(cells));
  c.set_block_local({2, 1, 1}, BlockValue::partial(4, 0x1FF));
  return c;
}

void BM_ChunkGetBlockLocal(benchmark::State& state) {
  const Chunk c = varied_chunk(static_cast<int>(state.range(0)));
  const auto order = scattered_indices();
  std::size_t k = 0;
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) {
    const block::BlockView v = c.get_block_local(LocalPos::from_index(order[k]));
    benchmark::DoNotOptimize(v);
    k = (k + 1) & 4095;
  }
  report_allocs(state, before);
  state.counters["width"] = c.index_width();
}
BENCHMARK(BM_ChunkGetBlockLocal)->Arg(2)->Arg(200)->Arg(4000);

// Writes alternate a block between two contents that other blocks keep alive, so every write
// finds its content in the palette and nothing is released. The palette scan grows with the
// palette, hence the sizes.
void BM_ChunkSetExistingContent(benchmark::State& state) {
  const int distinct = static_cast<int>(state.range(0));
  Chunk c = varied_chunk(distinct);
  const BlockValue a = BlockValue::whole(static_cast<material::MaterialId>(distinct - 1));
  const BlockValue b = BlockValue::whole(0);
  std::size_t k = 0;
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) {
    c.set_block_local({5, 5, 5}, (k & 1) ? a : b);
    ++k;
  }
  report_allocs(state, before);
  state.counters["palette"] = static_cast<double>(c.palette().size());
}
BENCHMARK(BM_ChunkSetExistingContent)->Arg(2)->Arg(16)->Arg(200)->Arg(4000);

void BM_ChunkSetExistingMixed(benchmark::State& state) {
  Chunk c = varied_chunk(16);
  block::Cells cells{};
  cells[0] = 2;
  cells[26] = 3;
  const BlockValue mixed = BlockValue::mixed(cells);
  const BlockValue stone = BlockValue::whole(2);
  std::size_t k = 0;
  const std::size_t before = ostrel_bench::allocations();
  for (auto _ : state) {
    c.set_block_local({5, 5, 5}, (k & 1) ? mixed : stone);
    ++k;
  }
  report_allocs(state, before);
}
BENCHMARK(BM_ChunkSetExistingMixed);

}  // namespace
}  // namespace ostrel_core

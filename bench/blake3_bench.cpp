#include <benchmark/benchmark.h>

#include <vector>

#include "base/blake3.hpp"

namespace {

void BM_Blake3Hash1MiB(benchmark::State& state) {
  std::vector<std::uint8_t> input(1 << 20);
  for (std::size_t i = 0; i < input.size(); ++i) input[i] = static_cast<std::uint8_t>(i % 251);
  for (auto _ : state) {
    auto d = ostrel_core::blake3::hash(input);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(input.size()));
}
BENCHMARK(BM_Blake3Hash1MiB);

}  // namespace

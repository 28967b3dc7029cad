#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "world/block.hpp"
#include "world/chunk.hpp"
#include "fluid/codec.hpp"
#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"
#include "light/codec.hpp"
#include "light/layer.hpp"
#include "world/lod.hpp"

namespace {

using ostrel_core::fluid::Fluid;
using ostrel_core::fluid::layer::FluidLayer;
using ostrel_core::light::layer::LightLayer;

// A pond: full water below y = 6, a sloping surface at y = 6, dry above.
FluidLayer pond() {
  std::vector<Fluid> states(4096);
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 7; ++y)
      for (int x = 0; x < 16; ++x) {
        const std::uint8_t level = y < 6 ? 27 : static_cast<std::uint8_t>(1 + (x + z) % 27);
        states[x + 16 * y + 256 * z] = Fluid::of(1, level);
      }
  return FluidLayer::from_blocks(states);
}

// Worst case: every block differs from the next, one run per block.
FluidLayer checkerboard_fluid() {
  std::vector<Fluid> states(4096);
  for (std::size_t i = 0; i < states.size(); ++i) states[i] = i % 2 ? Fluid::of(2, 14) : Fluid{};
  return FluidLayer::from_blocks(states);
}

// Sky above a ragged surface, a few lamps below it.
LightLayer lit_terrain() {
  LightLayer l;
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const int surface = 6 + (x * 7 + z * 3) % 4;
        std::uint16_t v = y >= surface ? 0xF000 : static_cast<std::uint16_t>(std::max(0, 15 - (surface - y) * 3) << 12);
        if ((x + y + z) % 37 == 0) v |= 0x0A80;
        l.set(x, y, z, v);
      }
  return l;
}

LightLayer alternating_light() {
  LightLayer l;
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) l.set(x, y, z, (x + 16 * y + 256 * z) % 2 ? 0xF000 : 0x0123);
  return l;
}

void fluid_encode(benchmark::State& state, const FluidLayer& layer) {
  for (auto _ : state) {
    auto bytes = ostrel_core::fluid::codec::encode(layer);
    benchmark::DoNotOptimize(bytes);
  }
}

void fluid_decode(benchmark::State& state, const FluidLayer& layer) {
  const auto bytes = ostrel_core::fluid::codec::encode(layer);
  for (auto _ : state) {
    auto got = ostrel_core::fluid::codec::decode(bytes);
    benchmark::DoNotOptimize(got);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

void light_encode(benchmark::State& state, const LightLayer& layer) {
  for (auto _ : state) {
    auto bytes = ostrel_core::light::codec::encode(layer);
    benchmark::DoNotOptimize(bytes);
  }
}

void BM_FluidEncodePond(benchmark::State& s) { fluid_encode(s, pond()); }
void BM_FluidEncodeCheckerboard(benchmark::State& s) { fluid_encode(s, checkerboard_fluid()); }
void BM_FluidDecodePond(benchmark::State& s) { fluid_decode(s, pond()); }
void BM_FluidDecodeCheckerboard(benchmark::State& s) { fluid_decode(s, checkerboard_fluid()); }
void BM_LightEncodeTerrain(benchmark::State& s) { light_encode(s, lit_terrain()); }
void BM_LightEncodeAlternating(benchmark::State& s) { light_encode(s, alternating_light()); }
void BM_LightEncodeFullUniform(benchmark::State& s) {
  LightLayer l;
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) l.set(x, y, z, 0xF000);
  light_encode(s, l);
}

// Terrain: stone, a dirt layer with grass on top, carved partial blocks and a few mixed ones
// along the surface, the pond's water above it.
ostrel_core::chunk::Chunk terrain() {
  using ostrel_core::block::BlockValue;
  auto ch = ostrel_core::chunk::Chunk::filled({0, 0, 0}, 0);
  for (std::uint8_t z = 0; z < 16; ++z)
    for (std::uint8_t x = 0; x < 16; ++x) {
      const int surface = 3 + (x * 7 + z * 3) % 4;
      for (std::uint8_t y = 0; y <= surface; ++y) {
        const std::uint16_t m = y < surface - 1 ? 3 : y < surface ? 4 : 5;
        ch.set_block_local({x, y, z}, BlockValue::whole(m));
      }
      const std::uint8_t top = static_cast<std::uint8_t>(surface + 1);
      if ((x + z) % 5 == 0) {
        ch.set_block_local({x, top, z}, BlockValue::partial(5, 0x1FF | (std::uint32_t{x} << 9)));
      } else if ((x + z) % 7 == 0) {
        ostrel_core::block::Cells cells{};
        const std::size_t filled = 14 + z % 4;
        for (std::size_t i = 0; i < cells.size(); ++i) {
          cells[i] = static_cast<std::uint16_t>(i < 9 ? 4 : i < filled ? 6 : 0);
        }
        ch.set_block_local({x, top, z}, BlockValue::mixed(cells));
      }
    }
  return ch;
}

ostrel_core::fluid::Fluids water() {
  ostrel_core::fluid::Fluids fluids;
  ostrel_core::fluid::Registered r;
  r.name = "bench:water";
  r.material = 12;
  fluids.register_fluid(r).value();
  return fluids;
}

void BM_SummaryChain(benchmark::State& state) {
  const auto ch = terrain();
  const auto fl = pond();
  const auto fluids = water();
  for (auto _ : state) {
    auto chain = ostrel_core::lod::Summary::chain_wet(ch, fl, fluids);
    benchmark::DoNotOptimize(chain);
  }
}

void BM_SummaryChainEncoded(benchmark::State& state) {
  const auto ch = terrain();
  const auto fl = pond();
  const auto fluids = water();
  for (auto _ : state) {
    for (const auto& s : ostrel_core::lod::Summary::chain_wet(ch, fl, fluids)) {
      auto bytes = ostrel_core::lod::codec::encode(s);
      benchmark::DoNotOptimize(bytes);
    }
  }
}

BENCHMARK(BM_SummaryChain)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SummaryChainEncoded)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FluidEncodePond)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FluidEncodeCheckerboard)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FluidDecodePond)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FluidDecodeCheckerboard)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LightEncodeTerrain)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LightEncodeAlternating)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LightEncodeFullUniform)->Unit(benchmark::kMicrosecond);

}  // namespace

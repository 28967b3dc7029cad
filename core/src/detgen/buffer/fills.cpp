// Density and palette fills of the chunk buffer, at block resolution and with cell detail.

#include <algorithm>
#include <optional>

#include "detgen/buffer/chunk_buffer.hpp"
#include "detgen/buffer/lattice.hpp"
#include "detgen/cells.hpp"

namespace ostrel_core::detgen::buffer {

namespace {

// The bands v is strictly above: bands 0 .. n - 1, thresholds ascending (0 for NaN). v lies in
// band n - 1, or in none when n is 0.
std::uint8_t bands_under(std::span<const PaletteBand> bands, float v) {
  std::uint8_t n = 0;
  for (const PaletteBand& b : bands) n += v > b.above ? 1 : 0;
  return n;
}

// The one material of every band from low's to high's, when there is one.
std::optional<std::uint16_t> single_material(std::span<const PaletteBand> bands, noise::Interval b) {
  const std::uint8_t lo = bands_under(bands, b.low), hi = bands_under(bands, b.high);
  if (lo == 0 || lo > hi) return std::nullopt;
  for (std::size_t k = lo; k < hi; ++k) {
    if (bands[k].material != bands[lo - 1].material) return std::nullopt;
  }
  return bands[lo - 1].material;
}

}  // namespace

std::expected<void, BufferError> ChunkBuffer::detail_cells(const density::Density& d, std::uint64_t seed,
                                                           std::span<const float> lattice, bool smooth,
                                                           std::uint32_t x, std::uint32_t y, std::uint32_t z,
                                                           density::Scratch& scratch,
                                                           std::array<float, 27>& out) const {
  if (smooth) {
    trilinear_cells(std::span<const float, kLatticeSamples>(lattice.data(), kLatticeSamples), x + 1, y + 1,
                    z + 1, out);
    return {};
  }
  return evaluate(d, seed, lattice::sampled_cells(pos_, x, y, z), out, scratch);
}

std::expected<void, BufferError> ChunkBuffer::fill_density(const density::Density& d, std::uint64_t seed,
                                                           std::uint16_t m) {
  const noise::Grid3 grid = lattice::blocks(pos_);
  const noise::Interval b = d.bounds(seed, grid);
  if (b.high <= 0.0f) return {};
  if (b.low > 0.0f) {
    fill_all(m);
    return {};
  }
  std::vector<float> samples(kBufferBlocks);
  density::Scratch scratch;
  if (auto r = evaluate(d, seed, grid, samples, scratch); !r) return r;
  for (std::uint32_t i = 0; i < kBufferBlocks; ++i) {
    if (samples[i] > 0.0f) set_block(i % 16, (i / 16) % 16, i / 256, m);
  }
  return {};
}

std::expected<void, BufferError> ChunkBuffer::fill_density_detail(const density::Density& d,
                                                                  std::uint64_t seed, std::uint16_t m,
                                                                  bool smooth) {
  const noise::Grid3 grid = lattice::detail(pos_);
  const noise::Interval b = d.bounds(seed, grid);
  if (b.high <= 0.0f) return {};
  if (b.low > 0.0f) {
    fill_all(m);
    return {};
  }
  std::vector<float> lat(kLatticeSamples);
  density::Scratch scratch;
  if (auto r = detail_lattice(d, seed, lat, scratch); !r) return r;
  std::array<float, 27> values;
  for (std::uint32_t z = 0; z < 16; ++z) {
    for (std::uint32_t y = 0; y < 16; ++y) {
      for (std::uint32_t x = 0; x < 16; ++x) {
        std::size_t at[7];
        lattice::neighbours(x, y, z, at);
        const bool own = lat[at[6]] > 0.0f;
        bool crossing = false;
        for (std::size_t i = 0; i < 6; ++i) crossing |= (lat[at[i]] > 0.0f) != own;
        if (!crossing) {
          if (own) set_block(x, y, z, m);
          continue;
        }
        if (auto r = detail_cells(d, seed, lat, smooth, x, y, z, scratch, values); !r) return r;
        BlockCells cells = block_cells(x, y, z);
        for (std::size_t i = 0; i < 27; ++i) {
          if (values[i] > 0.0f) cells[i] = m;
        }
        set_block_cells(x, y, z, cells);
      }
    }
  }
  return {};
}

std::expected<void, BufferError> ChunkBuffer::fill_palette(const density::Density& d, std::uint64_t seed,
                                                           std::span<const PaletteBand> bands) {
  const noise::Grid3 grid = lattice::blocks(pos_);
  const noise::Interval b = d.bounds(seed, grid);
  if (b.high <= bands.front().above) return {};
  if (const auto m = single_material(bands, b)) {
    fill_all(*m);
    return {};
  }
  std::vector<float> samples(kBufferBlocks);
  density::Scratch scratch;
  if (auto r = evaluate(d, seed, grid, samples, scratch); !r) return r;
  for (std::uint32_t i = 0; i < kBufferBlocks; ++i) {
    if (const std::uint8_t k = bands_under(bands, samples[i]); k > 0)
      set_block(i % 16, (i / 16) % 16, i / 256, bands[k - 1].material);
  }
  return {};
}

std::expected<void, BufferError> ChunkBuffer::fill_palette_detail(const density::Density& d,
                                                                  std::uint64_t seed,
                                                                  std::span<const PaletteBand> bands,
                                                                  bool smooth) {
  const noise::Grid3 grid = lattice::detail(pos_);
  const noise::Interval b = d.bounds(seed, grid);
  if (b.high <= bands.front().above) return {};
  if (const auto m = single_material(bands, b)) {
    fill_all(*m);
    return {};
  }
  std::vector<float> lat(kLatticeSamples);
  density::Scratch scratch;
  if (auto r = detail_lattice(d, seed, lat, scratch); !r) return r;
  std::vector<std::uint8_t> level(kLatticeSamples);
  for (std::size_t i = 0; i < kLatticeSamples; ++i) level[i] = bands_under(bands, lat[i]);
  std::array<float, 27> values;
  for (std::uint32_t z = 0; z < 16; ++z) {
    for (std::uint32_t y = 0; y < 16; ++y) {
      for (std::uint32_t x = 0; x < 16; ++x) {
        std::size_t at[7];
        lattice::neighbours(x, y, z, at);
        // Band k's boundary passes between the block's sample and a neighbour's exactly when
        // lo <= k < hi, over the levels of all seven.
        const std::uint8_t own = level[at[6]];
        std::uint8_t lo = own, hi = own;
        for (std::size_t i = 0; i < 6; ++i) {
          lo = std::min(lo, level[at[i]]);
          hi = std::max(hi, level[at[i]]);
        }
        if (lo == hi) {
          if (own > 0) set_block(x, y, z, bands[own - 1].material);
          continue;
        }
        if (auto r = detail_cells(d, seed, lat, smooth, x, y, z, scratch, values); !r) return r;
        // Bands below lo hold the block's own sample, so a cell takes at least band lo - 1; of
        // the crossed ones, those its value is above.
        BlockCells cells = block_cells(x, y, z);
        for (std::size_t i = 0; i < 27; ++i) {
          const std::uint8_t k = std::clamp(bands_under(bands, values[i]), lo, hi);
          if (k > 0) cells[i] = bands[k - 1].material;
        }
        set_block_cells(x, y, z, cells);
      }
    }
  }
  return {};
}

}  // namespace ostrel_core::detgen::buffer

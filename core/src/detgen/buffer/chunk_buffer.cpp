#include "detgen/buffer/chunk_buffer.hpp"

#include <algorithm>
#include <cmath>

#include "detgen/buffer/lattice.hpp"
#include "detgen/fp.hpp"
#include "world/block.hpp"

namespace ostrel_core::detgen::buffer {

std::expected<std::vector<PaletteBand>, PaletteError> checked_palette(std::vector<PaletteBand> bands) {
  if (bands.empty()) return std::unexpected(PaletteError{PaletteErrorKind::NoBands});
  if (bands.size() > kMaxBands) {
    return std::unexpected(PaletteError{PaletteErrorKind::TooManyBands, bands.size()});
  }
  for (const PaletteBand& b : bands) {
    if (std::isnan(b.above)) return std::unexpected(PaletteError{PaletteErrorKind::ThresholdNaN});
  }
  std::stable_sort(bands.begin(), bands.end(),
                   [](const PaletteBand& a, const PaletteBand& b) { return a.above < b.above; });
  for (std::size_t i = 1; i < bands.size(); ++i) {
    if (bands[i].above == bands[i - 1].above) {
      return std::unexpected(PaletteError{PaletteErrorKind::SharedThreshold, 0, bands[i].above});
    }
  }
  return bands;
}

std::int32_t round_code(float v) { return fp::floor_i32(v + 0.5f); }

ChunkBuffer::ChunkBuffer(coords::ChunkPos pos) : pos_(pos), blocks_(kBufferBlocks, 0) {}

void ChunkBuffer::set_block(std::uint32_t x, std::uint32_t y, std::uint32_t z, std::uint16_t m) {
  if (!is_expanded()) {
    blocks_[block_index(x, y, z)] = m;
    return;
  }
  for (std::uint32_t sz = 0; sz < 3; ++sz) {
    for (std::uint32_t sy = 0; sy < 3; ++sy) {
      const std::size_t row = cell_index(3 * x, 3 * y + sy, 3 * z + sz);
      cells_[row] = cells_[row + 1] = cells_[row + 2] = m;
    }
  }
}

void ChunkBuffer::set_block_cells(std::uint32_t x, std::uint32_t y, std::uint32_t z,
                                  const BlockCells& cells) {
  expand();
  const std::uint16_t* in = cells.data();
  for (std::uint32_t sz = 0; sz < 3; ++sz) {
    for (std::uint32_t sy = 0; sy < 3; ++sy, in += 3) {
      std::uint16_t* row = &cells_[cell_index(3 * x, 3 * y + sy, 3 * z + sz)];
      row[0] = in[0];
      row[1] = in[1];
      row[2] = in[2];
    }
  }
}

void ChunkBuffer::set_cell(std::uint32_t cx, std::uint32_t cy, std::uint32_t cz, std::uint16_t m) {
  expand();
  cells_[cell_index(cx, cy, cz)] = m;
}

bool ChunkBuffer::set_subnode_world(std::int32_t x, std::int32_t y, std::int32_t z, std::uint16_t m) {
  if (!pos_.contains(coords::SubNodePos{x, y, z})) return false;
  const auto local = [](std::int32_t c) {
    return static_cast<std::uint32_t>(coords::floor_mod(c, coords::kSubNodesPerChunkAxis));
  };
  set_cell(local(x), local(y), local(z), m);
  return true;
}

void ChunkBuffer::expand() {
  if (is_expanded()) return;
  cells_.resize(kBufferCells);
  for (std::uint32_t b = 0; b < kBufferBlocks; ++b) {
    const std::uint16_t m = blocks_[b];
    const std::uint32_t x = b % 16, y = (b / 16) % 16, z = b / 256;
    for (std::uint32_t sz = 0; sz < 3; ++sz) {
      for (std::uint32_t sy = 0; sy < 3; ++sy) {
        const std::size_t row = cell_index(3 * x, 3 * y + sy, 3 * z + sz);
        cells_[row] = cells_[row + 1] = cells_[row + 2] = m;
      }
    }
  }
  blocks_ = {};
}

void ChunkBuffer::fill_all(std::uint16_t m) {
  cells_ = {};
  blocks_.assign(kBufferBlocks, m);
}

void ChunkBuffer::set_fluid(std::uint32_t x, std::uint32_t y, std::uint32_t z, fluid::Fluid state) {
  fluid_.set(static_cast<int>(x), static_cast<int>(y), static_cast<int>(z), state);
}

chunk::Chunk ChunkBuffer::to_chunk() const {
  if (!is_expanded()) return chunk::Chunk::filled_in_order(pos_, blocks_);
  return chunk::Chunk::filled_in_order(pos_, 0, [&](std::uint16_t b, block::Cells& out) {
    const coords::LocalPos l = coords::LocalPos::from_index(b);
    const BlockCells cells = block_cells(l.x, l.y, l.z);
    std::copy(cells.begin(), cells.end(), out.begin());
  });
}

fluid::layer::FluidLayer ChunkBuffer::finished_fluid() const {
  if (fluid_.empty()) return {};
  std::vector<fluid::Fluid> states(fluid_.states().begin(), fluid_.states().end());
  for (std::uint16_t b = 0; b < kBufferBlocks; ++b) {
    fluid::Fluid& s = states[b];
    if (!s.is_wet()) continue;
    const coords::LocalPos l = coords::LocalPos::from_index(b);
    const std::uint32_t room = 27 - filled_cells(l.x, l.y, l.z);
    if (room == 0) {
      s = fluid::Fluid{};
    } else if (s.level() > room) {
      s = fluid::Fluid::of(s.id(), static_cast<std::uint8_t>(room));
    }
  }
  return fluid::layer::FluidLayer::from_blocks(states);
}

std::expected<void, BufferError> ChunkBuffer::evaluate(const density::Density& d, std::uint64_t seed,
                                                       const noise::Grid3& grid, std::span<float> out,
                                                       density::Scratch& scratch) const {
  ++evaluations_;
  auto r = d.evaluate_with(seed, grid, out, scratch);
  if (!r) return std::unexpected(BufferError{BufferErrorKind::Density, r.error()});
  return {};
}

std::expected<void, BufferError> ChunkBuffer::detail_lattice(const density::Density& d, std::uint64_t seed,
                                                             std::span<float> out, density::Scratch& scratch) {
  for (const KeptLattice& k : lattices_) {
    if (k.seed == seed && k.program.same_program(d) && k.values.size() == out.size()) {
      std::copy(k.values.begin(), k.values.end(), out.begin());
      return {};
    }
  }
  if (auto r = evaluate(d, seed, lattice::detail(pos_), out, scratch); !r) return r;
  if (lattices_.size() == kKeptLattices) lattices_.erase(lattices_.begin());
  lattices_.push_back({d, seed, std::vector<float>(out.begin(), out.end())});
  return {};
}

std::expected<void, BufferError> ChunkBuffer::fill_below_heightmap(std::span<const std::int32_t> heights,
                                                                   std::uint16_t m) {
  if (heights.size() != kChunkColumns) {
    BufferError e{BufferErrorKind::HeightmapColumns};
    e.columns = heights.size();
    return std::unexpected(e);
  }
  const std::int64_t floor = 16 * static_cast<std::int64_t>(pos_.y);
  for (std::uint32_t z = 0; z < 16; ++z) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      const std::int64_t d = std::min<std::int64_t>(heights[x + 16 * z] - floor, 16);
      for (std::int64_t y = 0; y < d; ++y) set_block(x, static_cast<std::uint32_t>(y), z, m);
    }
  }
  return {};
}

}  // namespace ostrel_core::detgen::buffer

// Layer and cover fills: paint a surface's layers from a depth and a code field, and stand short
// runs of cells on every ground surface the buffer holds.

#include <algorithm>
#include <cmath>

#include "detgen/buffer/chunk_buffer.hpp"
#include "detgen/buffer/lattice.hpp"
#include "detgen/cells.hpp"

namespace ostrel_core::detgen::buffer {

namespace {

// The first layer, in list order, that takes depth d in a block of code c.
const Layer* layer_for(std::span<const Layer> layers, std::int32_t c, float d) {
  if (!(d > 0.0f)) return nullptr;
  for (const Layer& l : layers) {
    if ((l.code == -1 || l.code == c) && l.from <= d && d < l.to) return &l;
  }
  return nullptr;
}

bool has_code(std::span<const Layer> layers, std::int32_t c) {
  return std::any_of(layers.begin(), layers.end(), [c](const Layer& l) { return l.code == c; });
}

}  // namespace

std::expected<void, BufferError> ChunkBuffer::fill_layers(const density::Density& depth,
                                                          const density::Density& code, std::uint64_t seed,
                                                          std::span<const Layer> layers) {
  float reach = 0.0f;
  for (const Layer& l : layers) {
    if (l.to > reach) reach = l.to;
  }
  const noise::Grid3 grid = lattice::detail(pos_);
  const noise::Interval d = depth.bounds(seed, grid);
  if (d.high <= 0.0f || d.low >= reach) return {};
  const bool any_code = has_code(layers, -1);
  if (!any_code) {
    const noise::Interval c = code.bounds(seed, grid);
    if (!std::isnan(c.low) && !std::isnan(c.high)) {
      const std::int32_t lo = round_code(c.low), hi = round_code(c.high);
      if (!std::any_of(layers.begin(), layers.end(),
                       [&](const Layer& l) { return lo <= l.code && l.code <= hi; })) {
        return {};
      }
    }
  }
  density::Scratch scratch;
  std::vector<float> code_lat(kLatticeSamples), depth_lat(kLatticeSamples);
  if (auto r = detail_lattice(code, seed, code_lat, scratch); !r) return r;
  std::vector<std::int32_t> codes(kLatticeSamples);
  bool reached = any_code;
  for (std::size_t i = 0; i < kLatticeSamples; ++i) {
    codes[i] = round_code(code_lat[i]);
    reached = reached || has_code(layers, codes[i]);
  }
  if (!reached) return {};
  if (auto r = detail_lattice(depth, seed, depth_lat, scratch); !r) return r;

  std::array<float, 27> cell_depth;
  for (std::uint32_t z = 0; z < 16; ++z) {
    for (std::uint32_t y = 0; y < 16; ++y) {
      for (std::uint32_t x = 0; x < 16; ++x) {
        std::size_t at[7];
        lattice::neighbours(x, y, z, at);
        const float own = depth_lat[at[6]];
        const std::int32_t c = codes[at[6]];
        bool crossing = false;
        for (std::size_t i = 0; i < 6; ++i) {
          crossing |= (depth_lat[at[i]] > 0.0f) != (own > 0.0f) || codes[at[i]] != c;
        }
        if (!crossing) {
          if (const Layer* l = layer_for(layers, c, own)) set_block(x, y, z, l->material);
          continue;
        }
        trilinear_cells(std::span<const float, kLatticeSamples>(depth_lat.data(), kLatticeSamples), x + 1,
                        y + 1, z + 1, cell_depth);
        BlockCells cells = block_cells(x, y, z);
        bool taken = false;
        for (std::size_t i = 0; i < 27; ++i) {
          if (const Layer* l = layer_for(layers, c, cell_depth[i])) {
            cells[i] = l->material;
            taken = true;
          }
        }
        if (taken) set_block_cells(x, y, z, cells);
      }
    }
  }
  return {};
}

std::expected<void, BufferError> ChunkBuffer::fill_cover(std::uint16_t m, std::uint32_t cells,
                                                         const density::Density* take, std::uint64_t seed,
                                                         std::span<const std::uint16_t> passable) {
  cells = std::clamp<std::uint32_t>(cells, 1, 9);
  if (!is_expanded() &&
      std::all_of(blocks_.begin(), blocks_.end(), [&](std::uint16_t v) { return v == blocks_[0]; })) {
    return {};
  }
  const auto ground = [&](std::uint16_t v) {
    return v != 0 && !std::binary_search(passable.begin(), passable.end(), v);
  };
  density::Scratch scratch;
  std::array<float, 27> take_at;
  for (std::uint32_t z = 0; z < 16; ++z) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      std::array<bool, 9> ground_below{};
      std::array<std::uint32_t, 9> carry{};
      for (std::uint32_t y = 0; y < 16; ++y) {
        const BlockCells read = block_cells(x, y, z);
        // A block of one material with no run to carry into it: no run starts in it (an empty one
        // needs ground below), and its top is that material in every column.
        const std::uint16_t v = read[0];
        if (std::all_of(carry.begin(), carry.end(), [](std::uint32_t c) { return c == 0; }) &&
            std::all_of(read.begin(), read.end(), [v](std::uint16_t c) { return c == v; })) {
          const bool any_below =
              std::any_of(ground_below.begin(), ground_below.end(), [](bool g) { return g; });
          if (v != 0 || !any_below) {
            ground_below.fill(ground(v));
            continue;
          }
        }
        std::array<int, 9> start;
        bool any_start = false, any_carry = false;
        for (std::uint32_t col = 0; col < 9; ++col) {
          const std::uint32_t base = col % 3 + 9 * (col / 3);  // sx + 9sz
          start[col] = -1;
          for (std::uint32_t sy = 0; sy < 3; ++sy) {
            const bool on = sy == 0 ? ground_below[col] : ground(read[base + 3 * (sy - 1)]);
            if (read[base + 3 * sy] == 0 && on) {
              start[col] = static_cast<int>(sy);
              break;
            }
          }
          ground_below[col] = ground(read[base + 6]);
          any_start |= start[col] >= 0;
          any_carry |= carry[col] > 0;
        }
        if (!any_start && !any_carry) continue;
        if (any_start && take != nullptr) {
          if (auto r = evaluate(*take, seed, lattice::sampled_cells(pos_, x, y, z), take_at, scratch); !r)
            return r;
        }
        BlockCells out = read;
        bool wrote = false;
        for (std::uint32_t col = 0; col < 9; ++col) {
          const std::uint32_t base = col % 3 + 9 * (col / 3);
          if (carry[col] > 0) {
            std::uint32_t n = 0;
            for (std::uint32_t sy = 0; sy < 3 && n < carry[col]; ++sy) {
              if (out[base + 3 * sy] != 0) break;
              out[base + 3 * sy] = m;
              ++n;
            }
            wrote |= n > 0;
            carry[col] = n == 3 ? carry[col] - 3 : 0;
          }
          if (start[col] < 0) continue;
          const std::uint32_t sy0 = static_cast<std::uint32_t>(start[col]);
          if (take != nullptr && take_at[base + 3 * sy0] <= 0.0f) continue;
          std::uint32_t n = 0, sy = sy0;
          for (; sy < 3 && n < cells; ++sy) {
            if (out[base + 3 * sy] != 0) break;
            out[base + 3 * sy] = m;
            ++n;
          }
          wrote |= n > 0;
          carry[col] = (sy == 3 && cells > 3) ? cells - n : 0;
        }
        if (wrote) set_block_cells(x, y, z, out);
      }
    }
  }
  return {};
}

}  // namespace ostrel_core::detgen::buffer

// Scatter: structures on the terrain's surface, drawn per square of the ground so that every
// chunk a structure reaches places the same one, whichever chunk is generated first.

#include <algorithm>
#include <cmath>

#include "detgen/buffer/chunk_buffer.hpp"
#include "detgen/buffer/lattice.hpp"
#include "detgen/rng.hpp"

namespace ostrel_core::detgen::buffer {

namespace {

using lattice::wrap_add;

std::int64_t floor_div(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

}  // namespace

SquareRange scatter_squares(std::int32_t px, std::int32_t pz, std::int64_t reach_x, std::int64_t reach_z,
                            std::uint32_t cell) {
  const std::int64_t x = 16 * static_cast<std::int64_t>(px), z = 16 * static_cast<std::int64_t>(pz);
  return {floor_div(x - reach_x, cell), floor_div(x + reach_x + 15, cell), floor_div(z - reach_z, cell),
          floor_div(z + reach_z + 15, cell)};
}

void ChunkBuffer::place(const Schematic& s, std::int32_t rx, std::int32_t ry, std::int32_t rz, bool& landed) {
  for (const StampBlock& b : s.blocks) {
    const coords::BlockPos at{wrap_add(rx, b.dx), wrap_add(ry, b.dy), wrap_add(rz, b.dz)};
    if (!pos_.contains(at)) continue;
    landed = true;
    const coords::LocalPos l = at.local();
    const std::uint32_t x = l.x, y = l.y, z = l.z;
    if ((b.mask & kCellMask) == kCellMask) {
      set_block(x, y, z, b.material);
      continue;
    }
    for (std::uint32_t i = 0; i < 27; ++i) {
      if ((b.mask >> i) & 1u) set_cell(3 * x + i % 3, 3 * y + (i / 3) % 3, 3 * z + i / 9, b.material);
    }
  }
}

std::expected<std::uint32_t, BufferError> ChunkBuffer::scatter(std::uint64_t seed, const ScatterSpec& spec) {
  const std::size_t n = spec.schematics.size();
  if (n == 0 || spec.cell == 0) return 0u;
  std::int64_t reach_x = 0, reach_z = 0, low = 0, high = 0;
  for (const Schematic* s : spec.schematics) {
    reach_x = std::max<std::int64_t>(reach_x, s->reach_x);
    reach_z = std::max<std::int64_t>(reach_z, s->reach_z);
    low = std::min<std::int64_t>(low, s->low_dy);
    high = std::max<std::int64_t>(high, s->high_dy);
  }
  // Surfaces L .. L + H - 1 can reach this chunk; the column holds H + high + 2 samples because
  // the top candidate's test of a surface above it reads one sample past H + high + 1.
  const std::int64_t h = high - low + 16;
  const std::int32_t window = static_cast<std::int32_t>(
      static_cast<std::uint32_t>(16u * static_cast<std::uint32_t>(pos_.y)) -
      static_cast<std::uint32_t>(high) - 1u + static_cast<std::uint32_t>(spec.sink));
  const std::size_t samples = static_cast<std::size_t>(h + high + 2);
  std::vector<float> column(samples);
  density::Scratch scratch;

  const std::int64_t px = 16 * static_cast<std::int64_t>(pos_.x), pz = 16 * static_cast<std::int64_t>(pos_.z);
  const auto [qx0, qx1, qz0, qz1] = scatter_squares(pos_.x, pos_.z, reach_x, reach_z, spec.cell);
  const std::uint64_t stream_seed = seed ^ static_cast<std::uint64_t>(spec.salt);
  std::uint32_t placed = 0;
  for (std::int64_t qz = qz0; qz <= qz1; ++qz) {
    for (std::int64_t qx = qx0; qx <= qx1; ++qx) {
      rng::StreamRng r(stream_seed, {static_cast<std::int32_t>(qx), 0, static_cast<std::int32_t>(qz)},
                       "scatter");
      const float u = r.next_f32();
      const auto ox = r.below(spec.cell), oz = r.below(spec.cell), k = r.below(n);
      if (!(u < spec.chance)) continue;
      const Schematic& s = *spec.schematics[k];
      const std::int32_t rx =
          wrap_add(lattice::wrap_mul(static_cast<std::int32_t>(spec.cell), static_cast<std::int32_t>(qx)),
                   static_cast<std::int32_t>(ox));
      const std::int32_t rz =
          wrap_add(lattice::wrap_mul(static_cast<std::int32_t>(spec.cell), static_cast<std::int32_t>(qz)),
                   static_cast<std::int32_t>(oz));
      if (static_cast<std::int64_t>(rx) + s.reach_x < px ||
          static_cast<std::int64_t>(rx) - s.reach_x >= px + 16 ||
          static_cast<std::int64_t>(rz) + s.reach_z < pz ||
          static_cast<std::int64_t>(rz) - s.reach_z >= pz + 16) {
        continue;
      }
      const float cx = static_cast<float>(rx) + 0.5f, cz = static_cast<float>(rz) + 0.5f;
      const noise::Grid3 grid{1, samples, 1, cx, static_cast<float>(window) + 0.5f, cz, 1.0f};
      if (auto e = evaluate(*spec.depth, seed, grid, column, scratch); !e) return std::unexpected(e.error());
      const auto surface = [&](std::int64_t j) { return column[j - 1] > 0.0f && column[j] <= 0.0f; };
      for (std::int64_t j = h; j >= 1; --j) {
        if (!surface(j)) continue;
        // Another surface within high + 1 above rejects this one.
        bool covered = false;
        for (std::int64_t t = j + 1; t <= j + high + 1 && !covered; ++t) covered = surface(t);
        if (covered) continue;
        const std::int32_t s_y = wrap_add(window, static_cast<std::int32_t>(j - 1));
        if (spec.stand != nullptr) {
          float v = 0.0f;
          const noise::Grid3 at{1, 1, 1, cx, static_cast<float>(s_y) + 0.5f, cz, 1.0f};
          if (auto e = evaluate(*spec.stand, seed, at, std::span<float>(&v, 1), scratch); !e) {
            return std::unexpected(e.error());
          }
          if (v <= 0.0f) continue;
        }
        bool landed = false;
        const auto root_y = static_cast<std::int32_t>(static_cast<std::uint32_t>(s_y) + 1u -
                                                      static_cast<std::uint32_t>(spec.sink));
        place(s, rx, root_y, rz, landed);
        if (landed) ++placed;
      }
    }
  }
  return placed;
}

}  // namespace ostrel_core::detgen::buffer

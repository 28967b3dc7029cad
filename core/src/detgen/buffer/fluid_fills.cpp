// Fluid fills: a sea below one world height, and terraced pools held up by one-block lips.

#include <algorithm>
#include <cmath>

#include "detgen/buffer/chunk_buffer.hpp"
#include "detgen/buffer/lattice.hpp"
#include "detgen/fp.hpp"

namespace ostrel_core::detgen::buffer {

namespace {

constexpr std::size_t kGrid = 18;  // the chunk's columns and a border one column wide

// A y coordinate or 3D noise: the operations whose value depends on height.
bool reads_height(const density::Density& d) {
  return std::any_of(d.ops().begin(), d.ops().end(), [](const density::Op& op) {
    if (const auto* c = std::get_if<density::Op::Coord>(&op.v)) return c->axis == 1;
    return std::holds_alternative<density::Op::Noise>(op.v);
  });
}

}  // namespace

void ChunkBuffer::pour(std::uint32_t x, std::uint32_t y, std::uint32_t z, fluid::FluidId fluid) {
  const std::uint32_t room = 27 - filled_cells(x, y, z);
  if (room != 0) set_fluid(x, y, z, fluid::Fluid::of(fluid, static_cast<std::uint8_t>(room)));
}

void ChunkBuffer::fill_fluid_below(std::int32_t level, fluid::FluidId fluid) {
  const std::int64_t floor = 16 * static_cast<std::int64_t>(pos_.y);
  const std::int64_t rows = std::clamp<std::int64_t>(level - floor, 0, 16);
  for (std::uint32_t y = 0; y < rows; ++y) {
    for (std::uint32_t z = 0; z < 16; ++z) {
      for (std::uint32_t x = 0; x < 16; ++x) pour(x, y, z, fluid);
    }
  }
}

std::expected<std::uint32_t, BufferError> ChunkBuffer::fill_fluid_terraced(std::uint64_t seed,
                                                                           const TerracedSpec& spec) {
  const std::int64_t floor = 16 * static_cast<std::int64_t>(pos_.y);
  const float ox = static_cast<float>(lattice::wrap_add(lattice::corner(pos_.x), -1)) + 0.5f;
  const float oz = static_cast<float>(lattice::wrap_add(lattice::corner(pos_.z), -1)) + 0.5f;
  const noise::Grid3 plane{kGrid, 1, kGrid, ox, 0.5f, oz, 1.0f};
  const noise::Grid3 box{kGrid, 17, kGrid, ox, static_cast<float>(lattice::corner(pos_.y)), oz, 1.0f};
  // A `within` that reads height would answer on the plane for a height it does not hold; it is
  // refused in every chunk so that no chunk lays a body another would refuse.
  if (spec.within != nullptr && reads_height(*spec.within)) {
    BufferError e{BufferErrorKind::TerracedReadsY};
    e.height = lattice::corner(pos_.y);
    return std::unexpected(e);
  }
  if (static_cast<double>(spec.level->bounds(seed, box).high) <= static_cast<double>(floor)) return 0u;
  if (spec.within != nullptr && spec.within->bounds(seed, plane).high <= 0.0f) return 0u;

  density::Scratch scratch;
  std::vector<float> level(kGrid * kGrid), within(kGrid * kGrid, 1.0f);
  if (auto r = evaluate(*spec.level, seed, plane, level, scratch); !r) return std::unexpected(r.error());
  if (spec.within != nullptr) {
    if (auto r = evaluate(*spec.within, seed, plane, within, scratch); !r) return std::unexpected(r.error());
  }
  if (reads_height(*spec.level)) {
    // Step towards the height at which the field reads its own height, extrapolating the last
    // two steps when they shrink geometrically.
    for (std::size_t i = 0; i < level.size(); ++i) {
      if (!(within[i] > 0.0f) || !std::isfinite(level[i])) continue;
      const float cx = ox + static_cast<float>(i % kGrid), cz = oz + static_cast<float>(i / kGrid);
      const float y0 = level[i];
      float y1 = 0.0f, y2 = 0.0f;
      for (float* out : {&y1, &y2}) {
        const noise::Grid3 at{1, 1, 1, cx, out == &y1 ? y0 : y1, cz, 1.0f};
        if (auto r = evaluate(*spec.level, seed, at, std::span<float>(out, 1), scratch); !r) {
          return std::unexpected(r.error());
        }
      }
      const float r = std::fabs(y1 - y0) > 0.0001f ? (y2 - y1) / (y1 - y0) : 0.0f;
      level[i] = std::fabs(r) < 0.9f ? y2 + (y2 - y1) * r / (1.0f - r) : y2;
    }
  }
  std::vector<std::int32_t> top(level.size());
  std::vector<bool> valid(level.size());
  for (std::size_t i = 0; i < level.size(); ++i) {
    top[i] = fp::floor_i32(level[i]);
    valid[i] = within[i] > 0.0f && std::isfinite(level[i]);
  }
  std::uint32_t lips = 0;
  for (std::uint32_t z = 0; z < 16; ++z) {
    for (std::uint32_t x = 0; x < 16; ++x) {
      const std::size_t g = (x + 1) + kGrid * (z + 1);
      if (!valid[g]) continue;
      const std::int64_t d = static_cast<std::int64_t>(top[g]) - floor;
      for (std::int64_t y = 0; y < std::min<std::int64_t>(d, 16); ++y)
        pour(x, static_cast<std::uint32_t>(y), z, spec.fluid);
      if (!spec.lip) continue;
      bool any = false;
      std::int32_t h = INT32_MIN;
      for (const std::size_t n : {g - 1, g + 1, g - kGrid, g + kGrid}) {
        if (!valid[n]) continue;
        any = true;
        h = std::max(h, top[n]);
      }
      if (!any) continue;
      const std::int64_t e = std::clamp<std::int64_t>(h - floor, 0, 16);
      for (std::int64_t y = std::max<std::int64_t>(d, 0); y < e; ++y) {
        const auto yy = static_cast<std::uint32_t>(y);
        if (filled_cells(x, yy, z) <= 26) {
          set_block(x, yy, z, *spec.lip);
          ++lips;
        }
      }
    }
  }
  return lips;
}

}  // namespace ostrel_core::detgen::buffer

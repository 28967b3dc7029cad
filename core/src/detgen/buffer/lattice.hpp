#pragma once
// Sampling regions the chunk buffer's fills share. P is 16 * the chunk position, wrapping in
// 32 bits; every origin is converted to single precision once.

#include <cstdint>

#include "detgen/noise.hpp"
#include "world/coords.hpp"

namespace ostrel_core::detgen::buffer::lattice {

// 32-bit wrapping sum and product.
inline std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline std::int32_t wrap_mul(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}
inline std::int32_t corner(std::int32_t chunk) { return wrap_mul(chunk, 16); }

// 16 x 16 x 16 at the blocks' lowest corners.
inline noise::Grid3 blocks(coords::ChunkPos p) {
  return {16,
          16,
          16,
          static_cast<float>(corner(p.x)),
          static_cast<float>(corner(p.y)),
          static_cast<float>(corner(p.z)),
          1.0f};
}

// 18 x 18 x 18 from P - 1: block (x, y, z)'s own sample is point (x + 1, y + 1, z + 1).
inline constexpr std::size_t kSide = 18;
inline noise::Grid3 detail(coords::ChunkPos p) {
  return {kSide,
          kSide,
          kSide,
          static_cast<float>(wrap_add(corner(p.x), -1)),
          static_cast<float>(wrap_add(corner(p.y), -1)),
          static_cast<float>(wrap_add(corner(p.z), -1)),
          1.0f};
}
inline std::size_t detail_index(std::uint32_t i, std::uint32_t j, std::uint32_t k) {
  return i + kSide * j + kSide * kSide * k;
}

// The lowest corners of block (x, y, z)'s 27 cells: step 1/3, output in cell order.
inline noise::Grid3 sampled_cells(coords::ChunkPos p, std::uint32_t x, std::uint32_t y, std::uint32_t z) {
  return {3,
          3,
          3,
          static_cast<float>(wrap_add(corner(p.x), static_cast<std::int32_t>(x))),
          static_cast<float>(wrap_add(corner(p.y), static_cast<std::int32_t>(y))),
          static_cast<float>(wrap_add(corner(p.z), static_cast<std::int32_t>(z))),
          1.0f / 3.0f};
}

// The six face neighbours of block (x, y, z) on the detail lattice, then its own sample.
inline void neighbours(std::uint32_t x, std::uint32_t y, std::uint32_t z, std::size_t (&out)[7]) {
  out[0] = detail_index(x, y + 1, z + 1);
  out[1] = detail_index(x + 2, y + 1, z + 1);
  out[2] = detail_index(x + 1, y, z + 1);
  out[3] = detail_index(x + 1, y + 2, z + 1);
  out[4] = detail_index(x + 1, y + 1, z);
  out[5] = detail_index(x + 1, y + 1, z + 2);
  out[6] = detail_index(x + 1, y + 1, z + 1);
}

}  // namespace ostrel_core::detgen::buffer::lattice

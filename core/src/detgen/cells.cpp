#include "detgen/cells.hpp"

#include <bit>
#include <cassert>

namespace ostrel_core::detgen::buffer {
namespace {

// Cell centres along an axis: 1/6, 1/2 and 5/6 in single precision.
constexpr float kFraction[3] = {std::bit_cast<float>(0x3E2AAAABu), 0.5f, std::bit_cast<float>(0x3F555555u)};

float lerp(float a, float b, float t) { return a + t * (b - a); }

}  // namespace

void trilinear_cells(std::span<const float, kLatticeSamples> lattice, std::uint32_t bx, std::uint32_t by,
                     std::uint32_t bz, std::span<float, 27> out) {
  assert(bx <= 16 && by <= 16 && bz <= 16);
  const std::size_t a = bx + kLatticeSide * by + kLatticeSide * kLatticeSide * bz;
  const float c000 = lattice[a], c100 = lattice[a + 1], c010 = lattice[a + 18], c110 = lattice[a + 19];
  const float c001 = lattice[a + 324], c101 = lattice[a + 325], c011 = lattice[a + 342],
              c111 = lattice[a + 343];
  for (int cz = 0; cz < 3; ++cz) {
    const float fz = kFraction[cz];
    for (int cy = 0; cy < 3; ++cy) {
      const float fy = kFraction[cy];
      for (int cx = 0; cx < 3; ++cx) {
        const float fx = kFraction[cx];
        const float q0 = lerp(lerp(c000, c100, fx), lerp(c010, c110, fx), fy);
        const float q1 = lerp(lerp(c001, c101, fx), lerp(c011, c111, fx), fy);
        out[cx + 3 * cy + 9 * cz] = lerp(q0, q1, fz);
      }
    }
  }
}

}  // namespace ostrel_core::detgen::buffer

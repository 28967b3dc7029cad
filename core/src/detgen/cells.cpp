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
  // Each lerp depends only on the fractions it uses, so the x edges are taken once per cx and
  // the y faces once per (cx, cy): the same operations on the same values as cell by cell.
  float e00[3], e10[3], e01[3], e11[3];  // along x: edges at (y, z) = (0,0), (1,0), (0,1), (1,1)
  for (int cx = 0; cx < 3; ++cx) {
    const float fx = kFraction[cx];
    e00[cx] = lerp(c000, c100, fx);
    e10[cx] = lerp(c010, c110, fx);
    e01[cx] = lerp(c001, c101, fx);
    e11[cx] = lerp(c011, c111, fx);
  }
  float q0[9], q1[9];  // along y: faces z = 0 and z = 1, at cx + 3cy
  for (int cy = 0; cy < 3; ++cy) {
    const float fy = kFraction[cy];
    for (int cx = 0; cx < 3; ++cx) {
      q0[cx + 3 * cy] = lerp(e00[cx], e10[cx], fy);
      q1[cx + 3 * cy] = lerp(e01[cx], e11[cx], fy);
    }
  }
  for (int cz = 0; cz < 3; ++cz) {
    const float fz = kFraction[cz];
    for (int i = 0; i < 9; ++i) out[i + 9 * cz] = lerp(q0[i], q1[i], fz);
  }
}

}  // namespace ostrel_core::detgen::buffer

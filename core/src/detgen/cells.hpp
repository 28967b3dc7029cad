#pragma once
// Sub-node cells from a lattice of density samples at block corners: a chunk's detail fill
// evaluates 18 x 18 x 18 corners instead of 48 x 48 x 48 cells.
//
// Lattice: 5832 samples, corner (x, y, z) at index x + 18 y + 324 z, 0 <= x, y, z <= 17.
// Cell (cx, cy, cz) of a block has index cx + 3 cy + 9 cz and its centre at fractions 1/6, 1/2
// and 5/6 of the block along each axis.

#include <cstddef>
#include <cstdint>
#include <span>

namespace ostrel_core::detgen::buffer {

inline constexpr std::size_t kLatticeSide = 18;
inline constexpr std::size_t kLatticeSamples = kLatticeSide * kLatticeSide * kLatticeSide;

// Fills `out` with the 27 cell values of block (bx, by, bz), each trilinear in the block's eight
// corners: along x, then y, then z, in single precision with one rounding per operation.
// REQUIRES: bx, by, bz <= 16 (all eight corners inside the lattice).
void trilinear_cells(std::span<const float, kLatticeSamples> lattice, std::uint32_t bx, std::uint32_t by,
                     std::uint32_t bz, std::span<float, 27> out);

}  // namespace ostrel_core::detgen::buffer

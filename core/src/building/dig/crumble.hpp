#pragma once
// The order in which a dug block's 27 cells come off: a seeded shuffle of the cells, then
// layered along the dominant axis of the digger's offset, the layer facing the digger first.
//
// Dominant axis of (dx, dy, dz): m = |dy| when |dx| <= |dy|, else |dx|; z when |dz| > m, else y
// when |dx| <= |dy|, else x. Ties go to y over x and to x or y over z. A digger level with the
// centre on that axis counts as being on its positive side.
// Example: offset (0.2, -0.9, 0.3): axis y, below, so the cells with y = 0 come first.

#include <array>
#include <cstdint>

#include "world/coords.hpp"

namespace ostrel_core::dig {

// Stream label of the shuffle, keyed by the block's coordinates under the world seed.
inline constexpr const char* kCrumbleLabel = "dig:crumble";

// Cell indices (x + 3y + 9z). `offset` is the eye minus the block's centre, in blocks.
std::array<std::uint8_t, 27> crumble_order(std::uint64_t seed, coords::BlockPos block,
                                           const std::array<double, 3>& offset);

}  // namespace ostrel_core::dig

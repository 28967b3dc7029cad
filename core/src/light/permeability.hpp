#pragma once
// Through which faces a block's content lets light pass: one bit per face, set when at least one
// of the nine cells on that face is empty.
//   BIT   FACE  CELLS (index x + 3y + 9z)   MASK OF THOSE CELLS
//   0x01  -x    x = 0                       0x1249249
//   0x02  +x    x = 2                       0x4924924
//   0x04  -y    y = 0                       0x01C0E07
//   0x08  +y    y = 2                       0x70381C0
//   0x10  -z    z = 0 (cells 0..8)          0x00001FF
//   0x20  +z    z = 2 (cells 18..26)        0x7FC0000
// 0x3F is open on every face, 0 closed on every face. Example: Partial stone missing only cell 0
// gives 0x15 (-x, -y, -z).

#include <array>
#include <cstdint>

#include "world/block.hpp"

namespace ostrel_core::light {

inline constexpr std::uint8_t kOpen = 0x3F;
inline constexpr std::uint8_t kClosed = 0;

// Cell masks of the six faces, in face-bit order (-x, +x, -y, +y, -z, +z).
inline constexpr std::array<std::uint32_t, 6> kFaceMasks = {
    0x1249249, 0x4924924, 0x01C0E07, 0x70381C0, 0x00001FF, 0x7FC0000};

// Whole air is open and any other whole material closed: whether a see-through material passes
// light is the lighting's business, not this. Partial air is open whatever its mask.
std::uint8_t permeability(const block::BlockView& view);

}  // namespace ostrel_core::light

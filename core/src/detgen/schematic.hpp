#pragma once
// Schematics: a structure as a list of blocks, each an offset from the root in blocks, a material
// and the 27-bit mask of the cells it writes, in writing order (a later entry lands over an
// earlier one), with the box about the root the structure can reach. Immutable once built.

#include <cstdint>
#include <vector>

namespace ostrel_core::detgen::buffer {

inline constexpr std::uint32_t kCellMask = 0x7FFFFFF;  // all 27 cells: a whole-block write

// One entry of a schematic. Cell i of the mask is x + 3y + 9z, x, y, z each 0..2.
struct StampBlock {
  std::int32_t dx = 0;  // offset from the root, blocks
  std::int32_t dy = 0;
  std::int32_t dz = 0;
  std::uint16_t material = 0;  // 0 (air) empties the named cells
  std::uint32_t mask = 0;      // the cells written; low 27 bits
  friend bool operator==(const StampBlock&, const StampBlock&) = default;
};

struct Schematic {
  std::vector<StampBlock> blocks;  // never empty in a built schematic
  std::int32_t reach_x = 0;        // greatest |dx| (saturating at INT32_MAX)
  std::int32_t reach_z = 0;        // greatest |dz|
  std::int32_t low_dy = 0;         // least dy, never above 0
  std::int32_t high_dy = 0;        // greatest dy, never below 0

  // The schematic of `blocks` with its four extents.
  static Schematic of(std::vector<StampBlock> blocks);

  // The entries turned `quarters` quarter turns about the vertical through the root: (dx, dz)
  // becomes (dz, -dx) per turn (negation saturates) and each cell (x, y, z) of the mask goes to
  // (z, y, 2 - x); dy, material and order stay. The extents are not recomputed.
  std::vector<StampBlock> turned(std::uint32_t quarters) const;
};

}  // namespace ostrel_core::detgen::buffer

#pragma once
// Block edits as clients send them and the server broadcasts them. Material ids are the world's
// stored ids. Each record declares its fields once, in wire order.
//
// Worked examples:
//   Edit Set{(0, -1, 0), material 7}                  -> 00 00 01 00 07
//   Edit Partial{(1, 0, -1), material 3, mask 0x1FF}  -> 02 02 00 01 03 FF 03

#include <cstddef>
#include <cstdint>
#include <tuple>
#include <variant>

#include "proto/records/common.hpp"
#include "world/block.hpp"

namespace ostrel_core::proto {

// Occupancy masks have one bit per cell of a block, cell index x + 3y + 9z.
inline constexpr std::uint32_t kFullMask = block::kOccupancyFull;
inline constexpr std::size_t kCellsPerBlock = block::kCells;

// One block edit.
namespace edit {
struct Set {  // the whole block becomes `material` (0 is air)
  BlockPos pos;
  std::uint16_t material = 0;
  static constexpr auto fields() { return std::tuple{&Set::pos, &Set::material}; }
  friend bool operator==(const Set&, const Set&) = default;
};
struct Cell {  // one sub-node cell becomes `material`
  SubNodePos pos;
  std::uint16_t material = 0;
  static constexpr auto fields() { return std::tuple{&Cell::pos, &Cell::material}; }
  friend bool operator==(const Cell&, const Cell&) = default;
};
struct Partial {  // the cells of `mask` become `material`; kFullMask makes it whole
  BlockPos pos;
  std::uint16_t material = 0;
  std::uint32_t mask = 0;
  static constexpr auto fields() { return std::tuple{&Partial::pos, &Partial::material, &Partial::mask}; }
  friend bool operator==(const Partial&, const Partial&) = default;
};
}  // namespace edit
using Edit = std::variant<edit::Set, edit::Cell, edit::Partial>;

}  // namespace ostrel_core::proto

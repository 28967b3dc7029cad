#pragma once
// Item stacks: a quantity of one kind of thing counted in units, one unit being one cell's worth
// of a material (a whole block is 27 units). Digging turns cells into units and placing turns
// units back into cells, so every operation here conserves units.
//
// Canonical form (what of_cells and canonical produce): `cells` only when two or more distinct
// non-zero materials are present, and then `material` is the lowest of them; `shape` only when
// the occupied cells are neither none nor all 27; units >= 1 and material != 0.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "world/block.hpp"
#include "base/error.hpp"
#include "world/material.hpp"

namespace ostrel_core::inventory {

using material::MaterialId;
using Cells = block::Cells;

inline constexpr std::uint32_t UNITS_PER_BLOCK = 27;
inline constexpr std::uint32_t OCCUPANCY_FULL = block::kOccupancyFull;
inline constexpr std::uint32_t ITEMS_PER_STACK = 90;

enum class StackErrorKind : std::uint8_t {
  MaterialDiffers,  // merge: materials a and b
  ShapeDiffers,     // merge: shapes shape_a and shape_b
  CellsDiffer,      // merge
  DetailDiffers,    // merge
  TooMany,          // merge: units a + b would pass 4,294,967,295
  TooFew,           // split: wanted a, held b
};

struct StackError {
  StackErrorKind kind;
  std::uint32_t a = 0;
  std::uint32_t b = 0;
  std::optional<std::uint32_t> shape_a;
  std::optional<std::uint32_t> shape_b;

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
  friend bool operator==(const StackError&, const StackError&) = default;
};

struct Stack {
  MaterialId material = 0;             // runtime id; for a multi-material cut, its lowest
  std::uint32_t units = 0;             // quantity in units
  std::optional<std::uint32_t> shape;  // partial cut only: one item's cells, 1..=0x7FFFFFE
  std::optional<std::string> detail;   // a mod's own word for the item, compared byte for byte
  std::optional<Cells> cells;          // multi-material cut only: one item's cell materials

  // Units in one item: popcount(shape), or 27.
  std::uint32_t item_size() const;
  // Material, shape, cells and detail all equal; units are not compared.
  bool is_like(const Stack& other) const;

  // The canonical stack of `units` units of items made of `cells`; none for no cells or 0 units.
  static std::optional<Stack> of_cells(const Cells& cells, std::uint32_t units);
  // Rebuilds a stack with cells through of_cells, keeping its detail; others pass unchanged.
  static std::optional<Stack> canonical(Stack stack);

  // Adds other's units; refused, with no change, unless the stacks are like and the sum fits.
  std::expected<void, StackError> merge(const Stack& other);
  // Detaches n units as a like stack.
  std::expected<Stack, StackError> split(std::uint32_t n);

  friend bool operator==(const Stack&, const Stack&) = default;
};

// Like stacks merged, zero and air stacks dropped, sorted by (material, shape, cells, detail).
std::vector<Stack> consolidate(std::span<const Stack> stacks);
// The units an edit took out of a block, cell by cell, one plain stack per material, ascending.
std::vector<Stack> removed_units(const block::BlockValue& before, const block::BlockValue& after);
// Sum of units of the stacks like `like`, saturating.
std::uint32_t units_of_exactly(std::span<const Stack> stacks, const Stack& like);
// The low 27 bits of mask, turned `turns` quarter turns about the vertical: cell (x, y, z) goes
// to (z, y, 2 - x). Bit 0 goes to bit 18; bit 2 to bit 0.
std::uint32_t turned(std::uint32_t mask, std::uint32_t turns);
// The order in which units fill a block's free cells: y layers bottom up, then z, then x.
const std::array<std::uint8_t, 27>& fill_order();

namespace cut {

// Bit i set when cell i is not empty.
std::uint32_t occupancy_of(const Cells& cells);
// One (material, mask) pair per distinct non-zero material, ascending by material.
std::vector<std::pair<MaterialId, std::uint32_t>> by_material(const Cells& cells);

}  // namespace cut

}  // namespace ostrel_core::inventory

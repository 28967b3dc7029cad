#pragma once
// What one block holds. A block is 27 cells (cell index x + 3y + 9z); its content is one of:
//   Whole    one material everywhere (material 0 is air)
//   Partial  one material in the cells whose bit is set in a 27-bit mask, the rest empty
//   Mixed    27 materials, one per cell, 0 meaning empty
// BlockValue owns a content; BlockView is how a chunk hands one out without copying.
//
// Content word: the chunk palette's key for one distinct content.
//   BITS    DESCRIPTION
//   0-15    kind: 0 Whole, 1 Partial, 2 Mixed
//   16-31   material (Whole, Partial) or the mixed-table slot (Mixed)
//   32-63   mask (Partial; only bits 32..58 can be set), 0 otherwise
// Examples: Whole 12 -> 786432 (0xC0000); Mixed in slot 3 -> 196610 (0x30002);
// Partial {5, 0x1FF} -> 0x000001FF_00050001.
// Equal contents have equal words only in canonical form (canonical() below).

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/assert.hpp"
#include "world/coords.hpp"
#include "world/material.hpp"

namespace ostrel_core::block {

using material::MaterialId;

// All 27 cells filled; scripts call it OCCUPANCY_FULL.
inline constexpr std::uint32_t kOccupancyFull = 0x7FFFFFF;
inline constexpr std::size_t kCells = coords::kCellsPerBlock;

using Cells = std::array<MaterialId, kCells>;

enum class Kind : std::uint8_t { Whole = 0, Partial = 1, Mixed = 2 };

// Content words.
constexpr std::uint64_t whole_word(MaterialId m) { return std::uint64_t{m} << 16; }
constexpr std::uint64_t partial_word(MaterialId m, std::uint32_t mask) {
  return 1 | (std::uint64_t{m} << 16) | (std::uint64_t{mask} << 32);
}
constexpr std::uint64_t mixed_word(std::uint16_t slot) { return 2 | (std::uint64_t{slot} << 16); }
// Meaningful only for words made by the three functions above.
constexpr Kind word_kind(std::uint64_t w) { return static_cast<Kind>(w & 0xFFFF); }
// The material of Whole and Partial, the slot of Mixed.
constexpr std::uint16_t word_material(std::uint64_t w) { return static_cast<std::uint16_t>(w >> 16); }
constexpr std::uint32_t word_mask(std::uint64_t w) { return static_cast<std::uint32_t>(w >> 32); }

// Number of set bits of a mask among the 27 cells.
constexpr unsigned mask_cells(std::uint32_t mask) {
  return static_cast<unsigned>(__builtin_popcount(mask & kOccupancyFull));
}

class BlockView;

// An owned block content. Cells of a non-mixed value are left zero so that == compares values.
class BlockValue {
 public:
  // Whole air.
  constexpr BlockValue() = default;
  static constexpr BlockValue whole(MaterialId m) { return BlockValue(Kind::Whole, m, 0); }
  static constexpr BlockValue air() { return whole(material::kAir); }
  static constexpr BlockValue partial(MaterialId m, std::uint32_t mask) {
    return BlockValue(Kind::Partial, m, mask);
  }
  static constexpr BlockValue mixed(const Cells& cells) {
    BlockValue v(Kind::Mixed, 0, 0);
    v.cells_ = cells;
    return v;
  }

  constexpr Kind kind() const { return kind_; }
  // Whole and Partial: the material; Mixed: 0.
  constexpr MaterialId material() const { return material_; }
  // Partial: the mask as given; otherwise 0.
  constexpr std::uint32_t mask() const { return mask_; }
  // Mixed: its cells; otherwise 27 zeros.
  constexpr const Cells& mixed_cells() const { return cells_; }

  // The 27 materials in cell-index order: whole m is 27 times m; Partial has its material where
  // the mask bit is set and 0 elsewhere; Mixed its cells.
  Cells cells() const;
  unsigned filled_cells() const;

  // Partial: keep mask bits 0..26; material 0 or no cell is air; all 27 cells is whole.
  // Mixed: no filled cell is air; one material in every filled cell is that material with the
  // mask of those cells (then the Partial rule); two or more materials stay Mixed.
  BlockValue canonical() const;

  friend constexpr bool operator==(const BlockValue&, const BlockValue&) = default;

 private:
  constexpr BlockValue(Kind kind, MaterialId m, std::uint32_t mask)
      : kind_(kind), material_(m), mask_(mask) {}

  Kind kind_ = Kind::Whole;
  MaterialId material_ = 0;
  std::uint32_t mask_ = 0;
  Cells cells_{};  // Mixed only
};

// A borrowed content: Whole and Partial by value, Mixed as a pointer into the chunk's
// mixed-cell table. Valid until the chunk it came from is next changed.
class BlockView {
 public:
  constexpr BlockView() = default;
  static constexpr BlockView whole(MaterialId m) { return {Kind::Whole, m, 0, nullptr}; }
  static constexpr BlockView partial(MaterialId m, std::uint32_t mask) {
    return {Kind::Partial, m, mask, nullptr};
  }
  // REQUIRES: `cells` outlives the view.
  static constexpr BlockView mixed(const Cells& cells) { return {Kind::Mixed, 0, 0, &cells}; }
  // Views `v` as it is (canonical or not); valid while `v` lives.
  static BlockView of(const BlockValue& v);

  constexpr Kind kind() const { return kind_; }
  constexpr MaterialId material() const { return material_; }
  constexpr std::uint32_t mask() const { return mask_; }
  // REQUIRES: kind() == Kind::Mixed.
  constexpr const Cells& mixed_cells() const {
    OSTREL_ASSERT(kind_ == Kind::Mixed);
    return *cells_;
  }

  // The material of one cell, 0 when empty. REQUIRES: cell < 27.
  MaterialId cell(std::size_t cell) const;
  Cells cells() const;
  // Non-empty cells, 0..27.
  unsigned filled_cells() const;
  // An owned copy, the mixed cells included.
  BlockValue to_value() const;

 private:
  constexpr BlockView(Kind kind, MaterialId m, std::uint32_t mask, const Cells* cells)
      : kind_(kind), material_(m), mask_(mask), cells_(cells) {}

  Kind kind_ = Kind::Whole;
  MaterialId material_ = 0;
  std::uint32_t mask_ = 0;
  const Cells* cells_ = nullptr;  // Mixed only
};

}  // namespace ostrel_core::block

#pragma once
// Level-of-detail summaries: a coarse picture of a chunk that clients draw far beyond the view
// distance, and the rings that decide at which detail a chunk at some distance is streamed.
//
// A summary holds one material per cell. Level 1 is one cell per block (side 16); each level up
// halves the side, down to one cell at level 5 (sides 16, 8, 4, 2, 1). A coarser cell is solid
// when at least four of its eight children are, and then takes their most common material, ties
// going to the smaller id.
//
// Summary encoding
//   OFFSET  SIZE  DESCRIPTION
//      0      1   format: always 1
//      1      1   level, 1..=5
//      2      *   the side^3 cells as u16 little-endian material ids in index order
//                 (x + side*y + side^2*z), compressed as one zstd frame at level 3
// Example: a level-5 summary of stone (id 3) is 01 05 then a frame that decompresses to 03 00.
// A summary whose cells cannot be compressed is not encoded at all: the reader has no way to
// tell raw cells from a frame.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/assert.hpp"
#include "base/error.hpp"
#include "world/material.hpp"

namespace ostrel_core::chunk {
class Chunk;
}
namespace ostrel_core::fluid {
class Fluids;
}
namespace ostrel_core::fluid::layer {
class FluidLayer;
}

namespace ostrel_core::lod {

using material::MaterialId;

inline constexpr std::uint8_t kMinLevel = 1;
inline constexpr std::uint8_t kMaxLevel = 5;

// Cells on each axis of a summary at `level`: 32 >> level. REQUIRES: level 1..=5.
constexpr std::size_t side_of(std::uint8_t level) {
  OSTREL_ASSERT(level >= kMinLevel && level <= kMaxLevel);
  return std::size_t{32} >> level;
}
constexpr std::size_t cells_of(std::uint8_t level) {
  return side_of(level) * side_of(level) * side_of(level);
}

// The most common non-zero id of `materials`, the smaller on a tie; 0 when fewer than `min`
// of them are non-zero.
MaterialId solid_majority(std::span<const MaterialId> materials, std::size_t min);

class Summary {
 public:
  // The level-1 summary of a chunk: per block its material when whole, else the majority of
  // its cells when at least 9 of 27 are filled, else air; an air cell shows the fluid of a
  // block at least half full (level 14 or more) as the fluid's material.
  static Summary of_wet(const chunk::Chunk& chunk, const fluid::layer::FluidLayer& fluid,
                        const fluid::Fluids& fluids);
  // of_wet, then every coarser level: always five summaries, levels 1 to 5.
  static std::vector<Summary> chain_wet(const chunk::Chunk& chunk, const fluid::layer::FluidLayer& fluid,
                                        const fluid::Fluids& fluids);
  // A summary of `level` from its cells in index order; none unless the level is 1..=5 and
  // there are exactly side^3 cells.
  static std::optional<Summary> of_cells(std::uint8_t level, std::vector<MaterialId> cells);

  // The next level up, or none at level 5.
  std::optional<Summary> coarser() const;

  std::uint8_t level() const { return level_; }
  // side^3 runtime material ids; mutable so that the world can translate them to stored ids.
  std::span<const MaterialId> cells() const { return cells_; }
  std::span<MaterialId> cells() { return cells_; }

  friend bool operator==(const Summary&, const Summary&) = default;

 private:
  Summary(std::uint8_t level, std::vector<MaterialId> cells) : level_(level), cells_(std::move(cells)) {}

  std::uint8_t level_;              // 1..=5
  std::vector<MaterialId> cells_;   // exactly cells_of(level_)
};

// How a chunk is streamed: in full, or as the summary of one level.
struct Detail {
  std::uint8_t level = 0;  // 0: the chunk itself; 1..=5: a summary of that level

  static constexpr Detail full() { return Detail{0}; }
  static constexpr Detail summary(std::uint8_t level) { return Detail{level}; }
  constexpr bool is_full() const { return level == 0; }
  friend constexpr bool operator==(Detail, Detail) = default;
};

struct Rings {
  std::uint32_t width = 1;   // radius of full detail in chunks; 0 is taken as 1
  std::uint32_t margin = 0;  // hysteresis: how far past a band edge a change must reach

  // Full within `width`; beyond, the bit length of distance / width, at most 5: level 1 below
  // twice the width, 2 below four times, ... 5 from sixteen times on.
  Detail classify(std::uint32_t distance) const;
  // The detail for a chunk at `distance` that was streamed at `previous` (none: not held). A
  // held chunk changes detail only when distance - margin and distance + margin both classify
  // as the new detail.
  Detail stable_level(std::optional<Detail> previous, std::uint32_t distance) const;
};

namespace codec {

inline constexpr std::uint8_t kFormat = 1;
// Format byte + level byte.
inline constexpr std::size_t kHeaderSize = 1 + 1;
inline constexpr int kZstdLevel = 3;

enum class EncodeErrorKind : std::uint8_t {
  Compress,  // zstd refused the cells; nothing was written
};

struct EncodeError {
  EncodeErrorKind kind;
  std::uint8_t level = 0;  // the summary's level
  std::string reason;      // zstd's error name

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
  friend bool operator==(const EncodeError&, const EncodeError&) = default;
};

std::expected<std::vector<std::uint8_t>, EncodeError> encode(const Summary& summary);

}  // namespace codec
}  // namespace ostrel_core::lod

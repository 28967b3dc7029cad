#pragma once
// A plan: a captured box of blocks, stored by name and stamped again elsewhere. It names its
// materials, never their ids, so it builds the same blocks under any mod load order. Air is the
// absence of an entry.
//
// Stored form: the record encoding of the fields in declared order, then one zstd frame.
//   w h d       u16 varints
//   palette     varint count, then each name as a string
//   cells       varint count, then (index u32, palette entry u16, mask u32) varints
// Example: a 1x1x1 plan of one whole "m:stone" block:
//   01 01 01 | 01 07 "m:stone" | 01 00 00 ff ff ff 3f

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/error.hpp"
#include "detgen/schematic.hpp"

namespace ostrel_core::plan {

inline constexpr std::size_t kMaxCells = 65'536;
inline constexpr std::size_t kMaxPalette = 65'536;

// One material of one non-empty block.
struct PlanEntry {
  std::uint32_t index = 0;    // x + w * (y + h * z)
  std::uint16_t palette = 0;  // entry of Plan::palette
  std::uint32_t mask = 0;     // the block's cells holding this material, bit x + 3y + 9z

  static constexpr auto fields() {
    return std::tuple{&PlanEntry::index, &PlanEntry::palette, &PlanEntry::mask};
  }
  friend bool operator==(const PlanEntry&, const PlanEntry&) = default;
};

struct Plan {
  std::uint16_t w = 0;               // extent along x, in blocks
  std::uint16_t h = 0;               // extent along y
  std::uint16_t d = 0;               // extent along z
  std::vector<std::string> palette;  // material names, each once, in order of first use
  std::vector<PlanEntry> cells;      // several entries share an index for a mixed block

  static constexpr auto fields() {
    return std::tuple{&Plan::w, &Plan::h, &Plan::d, &Plan::palette, &Plan::cells};
  }
  friend bool operator==(const Plan&, const Plan&) = default;
};

// One cell entry with its position unpacked.
struct PlanCell {
  std::uint16_t x = 0;
  std::uint16_t y = 0;
  std::uint16_t z = 0;
  std::uint16_t palette = 0;
  std::uint32_t mask = 0;
  friend bool operator==(const PlanCell&, const PlanCell&) = default;
};

enum class PlanErrorKind : std::uint8_t {
  TooBig,         // an extent over the limit: axis and extent
  TooManyBlocks,  // more than kMaxCells entries
  OutOfBounds,    // a position outside the extents
  PaletteFull,    // more than kMaxPalette names
  NoWorld,        // no world is open to capture from
  NotLoaded,      // a block of the box is not resident
};

struct PlanError {
  PlanErrorKind kind;
  char axis = 0;                         // TooBig: 'x', 'y' or 'z'
  std::uint32_t extent = 0;              // TooBig
  std::int64_t x = 0, y = 0, z = 0;      // OutOfBounds, NotLoaded: the position
  std::uint32_t w = 0, h = 0, d = 0;     // OutOfBounds: the extents

  // The reason text scripts are given: "too big", "refused", ...
  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
};

// The script side's way to the plan store and its stamper, installed into the simulation's
// script engine when the world opens.
class Access {
 public:
  virtual ~Access() = default;
  // Queues a schematic's entries, already turned, with their root at `root` in `domain`, to be
  // written over the following ticks. False when the stamper refuses it (too many stamps are
  // waiting); nothing is queued then.
  virtual bool stamp_schematic(std::string_view domain, std::array<std::int32_t, 3> root,
                               std::vector<detgen::buffer::StampBlock> entries) = 0;
};

}  // namespace ostrel_core::plan

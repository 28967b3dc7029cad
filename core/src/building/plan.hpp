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
#include <expected>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/error.hpp"
#include "detgen/schematic.hpp"
#include "world/coords.hpp"

namespace ostrel_core::plan {

inline constexpr std::size_t kMaxCells = 65'536;
inline constexpr std::size_t kMaxPalette = 65'536;
inline constexpr std::uint32_t kMaxExtent = 64;  // blocks per axis of a captured box

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

struct Plan {
  std::uint16_t w = 0;               // extent along x, in blocks
  std::uint16_t h = 0;               // extent along y
  std::uint16_t d = 0;               // extent along z
  std::vector<std::string> palette;  // material names, each once, in order of first use
  std::vector<PlanEntry> cells;      // several entries share an index for a mixed block

  static constexpr auto fields() {
    return std::tuple{&Plan::w, &Plan::h, &Plan::d, &Plan::palette, &Plan::cells};
  }

  // Records the cells of `mask` of material `name` at (x, y, z). The extents are tested before
  // the mask; a 0 mask records nothing; entries are never merged.
  std::expected<void, PlanError> set(std::uint16_t x, std::uint16_t y, std::uint16_t z, std::string_view name,
                                     std::uint32_t mask);
  // Units per material name, skipping entries whose palette entry lies beyond the palette.
  std::map<std::string, std::uint32_t> tally() const;
  // Entry i with its position unpacked. REQUIRES: i < cells.size(), w and h not 0.
  PlanCell unpacked(std::size_t i) const;
  // Why a plan read from storage cannot be used: extents over 64, an index outside the box, a
  // palette entry past the palette, too many entries or names. None for a sound plan.
  std::optional<std::string> damage() const;

  friend bool operator==(const Plan&, const Plan&) = default;
};

// The script side's way to the plan store and its stamper, installed into the simulation's
// script engine when the world opens. Plans are kept per mod under names of the mod's own.
class Access {
 public:
  virtual ~Access() = default;
  // The box between two corners (inclusive, either order) of `domain`'s resident chunks.
  virtual std::expected<Plan, PlanError> capture(std::string_view domain, coords::BlockPos from,
                                                 coords::BlockPos to) = 0;
  // Stores the plan, replacing one of the same name; false when it could not be stored.
  virtual bool save(std::string_view mod_id, std::string_view name, const Plan& plan) = 0;
  // None for no stored plan, a damaged one or no world.
  virtual std::optional<Plan> load(std::string_view mod_id, std::string_view name) = 0;
  // Ascending; empty without a world.
  virtual std::vector<std::string> names(std::string_view mod_id) = 0;
  // Whether a stored plan was deleted.
  virtual bool forget(std::string_view mod_id, std::string_view name) = 0;
  // Queues the plan with its (0, 0, 0) corner at `at`; false when too many stamps wait.
  virtual bool stamp(std::string_view domain, coords::BlockPos at, Plan plan) = 0;
  // Queues a schematic's entries, already turned, with their root at `root` in `domain`, to be
  // written over the following ticks. False when the stamper refuses it (too many stamps are
  // waiting); nothing is queued then.
  virtual bool stamp_schematic(std::string_view domain, std::array<std::int32_t, 3> root,
                               std::vector<detgen::buffer::StampBlock> entries) = 0;
};

}  // namespace ostrel_core::plan

#pragma once
// Voxels: the world as one movement step, ray or submersion measure sees it. It borrows a
// domain's resident chunks, its fluid state and the terrain rules, and reads sub-node cells
// relative to an origin chunk. A chunk that is not in memory counts as solid and is remembered
// (up to kMaxAbsent of them) so that the caller can load it afterwards.
//
// Coordinates are relative to the origin: the world cell of cell c is c + 48 * origin on each
// axis, the world block of block b is b + 16 * origin. Both are formed in 64 bits, so no cell
// wraps; a chunk beyond the 32-bit range is never resident.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "fluid/fluid.hpp"
#include "world/chunk.hpp"
#include "world/coords.hpp"
#include "world/material.hpp"

namespace ostrel_core::phys::voxels {

using coords::BlockPos;
using coords::ChunkPos;
using material::MaterialId;

// A domain's resident chunks; the server world's Solid implements it.
class Resident {
 public:
  // The chunk when it is in memory, else null. Never loads or generates.
  virtual ~Resident() = default;
  virtual const chunk::Chunk* resident(ChunkPos pos) const = 0;
};

// A domain's fluid state; the server's fluid state implements it.
class FluidSource {
 public:
  // The block's fluid state word; 0 when its chunk has no full fluid layer.
  virtual ~FluidSource() = default;
  virtual fluid::Fluid at(BlockPos pos) const = 0;
};

// What the block rules say to movement: the materials bodies walk through and the friction
// factor of floors. Built once from the registered rules and borrowed by every step.
struct Terrain {
  std::vector<MaterialId> passable;                    // ascending, distinct
  std::vector<std::pair<MaterialId, float>> friction;  // ascending by id, distinct, 0..=1

  // Sorts and de-duplicates (the first factor given for an id wins) and limits each factor to
  // 0..=1; a factor that is not a number counts as 1.
  static Terrain of(std::vector<MaterialId> passable, std::vector<std::pair<MaterialId, float>> friction);

  bool is_passable(MaterialId m) const;
  // The factor of `m`, 1 when it has none.
  float friction_of(MaterialId m) const;
};

inline constexpr std::size_t kMaxAbsent = 8;

// Lives for one step (or one ray); not shared between threads. The lookups take the view by
// const reference and record absent chunks in mutable fields.
class Voxels {
 public:
  // `fluids` may be null: every block reads dry.
  Voxels(const Resident& world, const Terrain& terrain, const FluidSource* fluids, ChunkPos origin)
      : world_(&world), terrain_(&terrain), fluids_(fluids), origin_(origin) {}
  Voxels(const Resident&, Terrain&&, const FluidSource*, ChunkPos) = delete;  // would outlive it
  Voxels(const Voxels&) = delete;
  Voxels& operator=(const Voxels&) = delete;

  // The cell's material, 0 for air; none when its chunk is not in memory, which is recorded.
  std::optional<MaterialId> material(std::int64_t x, std::int64_t y, std::int64_t z) const;
  // False only for resident air; passable materials and absent chunks are solid. Rays use it.
  bool solid(std::int64_t x, std::int64_t y, std::int64_t z) const;
  // Absent, or a material other than air that is not passable. Sweeps and standing use it.
  bool blocked(std::int64_t x, std::int64_t y, std::int64_t z) const;
  // The block's fluid state word (0 dry). Absent chunks are not recorded here.
  std::uint16_t fluid(std::int64_t bx, std::int64_t by, std::int64_t bz) const;

  // The distinct chunks found missing, in the order met, at most kMaxAbsent.
  std::span<const ChunkPos> absent() const { return {absent_.data(), absent_count_}; }
  // Set whenever a lookup met a missing chunk, also past kMaxAbsent.
  bool touched_absent() const { return touched_absent_; }
  ChunkPos origin() const { return origin_; }
  const Terrain& terrain() const { return *terrain_; }

 private:
  const chunk::Chunk* chunk_at(std::int64_t cx, std::int64_t cy, std::int64_t cz) const;
  void note_absent(ChunkPos pos) const;

  const Resident* world_;
  const Terrain* terrain_;
  const FluidSource* fluids_;  // null: no fluid state
  ChunkPos origin_;

  // Lookup state, written by const lookups.
  mutable std::array<ChunkPos, kMaxAbsent> absent_{};
  mutable std::size_t absent_count_ = 0;
  mutable bool touched_absent_ = false;
  mutable bool cached_ = false;  // cached_pos_ / cached_chunk_ hold the last chunk looked up
  mutable ChunkPos cached_pos_{};
  mutable const chunk::Chunk* cached_chunk_ = nullptr;  // null: that chunk is absent
};

}  // namespace ostrel_core::phys::voxels

#pragma once
// Path finding and steering at block resolution: which blocks lead from here to there, and which
// way to drive a body this tick. A block is walked through when the nine cells of its bottom
// layer are empty or passable. The server answers on its lease handle.
//
// A search is bounded twice: by its own budget of expansions and by the pool that every search
// of one tick shares. Refused requests and one-block paths cost nothing; a search is charged the
// expansions it made, or its budget + 1 when it ran out.

#include <array>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "movement/phys/voxels.hpp"
#include "world/chunk.hpp"
#include "world/coords.hpp"
#include "world/material.hpp"

namespace ostrel_core::path {

using coords::BlockPos;
using material::MaterialId;
using Vec3d = std::array<double, 3>;

inline constexpr std::uint32_t kDefaultBudget = 2000;
inline constexpr std::uint32_t kMaxBudget = 10000;
// Blocks a path may span on each axis, and the world's block range.
inline constexpr std::int32_t kMaxSpan = 192;
inline constexpr std::int32_t kLowestBlock = -60000;
inline constexpr std::int32_t kHighestBlock = 59999;
// The tallest collider in blocks: height, step_up and max_drop are limited to it.
inline constexpr std::int32_t kMaxReach = 16;
// Within this squared distance across the ground (0.6 blocks) steering has arrived.
inline constexpr double kArrivedSquared = 0.36;

struct PathOptions {
  std::uint32_t budget = kDefaultBudget;  // 0 reads as 2000, above 10000 as 10000
  std::int32_t height = 2;                // blocks of clear space from the feet up, 1..=16
  std::int32_t step_up = 1;               // 0..=16
  std::int32_t max_drop = 3;              // 0..=16
};

// Each option as a search uses it.
std::uint32_t search_budget(std::uint32_t budget);
std::int32_t clamp_height(std::int32_t height);
std::int32_t clamp_reach(std::int32_t blocks);

enum class PathFailure : std::uint8_t { Unreachable, OverBudget, NoWorld };
// "unreachable", "budget", "no world".
std::string_view reason(PathFailure f);

using Found = std::expected<std::vector<BlockPos>, PathFailure>;

struct Steering {
  float drive_x = 0.0f;  // a horizontal unit vector, or 0 and 0
  float drive_z = 0.0f;
  bool jump = false;
  bool arrived = false;
  friend bool operator==(const Steering&, const Steering&) = default;
};

inline bool in_world(std::int32_t v) { return v >= kLowestBlock && v <= kHighestBlock; }
inline bool in_world(BlockPos b) { return in_world(b.x) && in_world(b.y) && in_world(b.z); }

// The nine bottom-layer cells of a block: x + 3y + 9z with y = 0.
inline constexpr std::uint32_t kBottomLayer = 0x1C0E07;

// Whether a body may pass the block's floor: the chunk is resident and the block's bottom layer
// holds only empty or passable cells. `passable` is ascending; `chunks` null: nothing resident.
bool floor_is_clear(const phys::voxels::Resident* chunks, std::span<const MaterialId> passable,
                    BlockPos block);
// The same test of a block in `chunk` (null: not resident).
bool floor_is_clear(const chunk::Chunk* chunk, std::span<const MaterialId> passable, BlockPos block);

// The heap entry of a search: ordered by f, then g, then x, y, z, all ascending.
struct OpenEntry {
  std::uint32_t f = 0;
  std::uint32_t g = 0;
  BlockPos at;
};

// What a search learns of each block it touches, kept between searches so that a warm search
// allocates nothing: one open-addressing table (entries of older searches are stale by their
// epoch, so starting a search clears nothing) and the open heap's storage.
class Scratch {
 public:
  struct Slot {
    BlockPos key;
    std::uint32_t epoch = 0;  // the search that wrote the slot; 0 never written
    std::uint8_t known = 0;   // the terrain answers found
    bool reached = false;     // g and from hold the best way in
    std::uint32_t g = 0;
    BlockPos from;
  };

  // Forgets the previous search.
  void begin();
  // The block's slot, added empty when new. Valid until the next call.
  Slot& at(BlockPos key);
  // The block's slot, or null.
  const Slot* find(BlockPos key) const;
  std::vector<OpenEntry>& open() { return open_; }

 private:
  std::size_t home(BlockPos key) const;
  void grow();

  std::vector<Slot> slots_;  // a power of two long, or empty
  std::uint32_t epoch_ = 0;
  std::size_t used_ = 0;  // slots of this epoch
  std::vector<OpenEntry> open_;
};

// One search's view of a domain, with the answers it already found (in `scratch`, which it
// starts afresh).
class Terrain {
 public:
  Terrain(const phys::voxels::Resident* chunks, std::span<const MaterialId> passable, std::int32_t height,
          Scratch& scratch)
      : chunks_(chunks), passable_(passable), height_(clamp_height(height)), scratch_(scratch) {
    scratch_.begin();
  }

  bool passable(BlockPos block);
  // Inside the world, `height` passable blocks from the feet up, and a block beneath that is not.
  bool standable(BlockPos block);
  std::int32_t height() const { return height_; }
  const phys::voxels::Resident* chunks() const { return chunks_; }
  std::span<const MaterialId> passable_materials() const { return passable_; }
  Scratch& scratch() { return scratch_; }

 private:
  const chunk::Chunk* chunk_at(coords::ChunkPos pos);

  const phys::voxels::Resident* chunks_;
  std::span<const MaterialId> passable_;
  std::int32_t height_;
  std::optional<coords::ChunkPos> last_pos_;  // the chunk looked up last, and what it was
  const chunk::Chunk* last_chunk_ = nullptr;
  Scratch& scratch_;
};

// A search's outcome before charging: the path or the failure, the expansions to charge, and
// the path's cost (a level move 1, a move up or down k blocks 1 + k; 0 without a path).
struct Searched {
  Found found;
  std::uint32_t charge = 0;
  std::uint32_t cost = 0;
};
// The search of two blocks already checked to lie in the world and within kMaxSpan, the goal
// standable and different from the start; `budget` > 0 the expansions it may make.
Searched search(Terrain& terrain, BlockPos start, BlockPos goal, std::uint32_t budget, std::int32_t step_up,
                std::int32_t max_drop);

// The steering answer over a view of the domain's chunks (`chunks` null: unknown domain).
Steering steer(const phys::voxels::Resident* chunks, std::span<const MaterialId> passable, const Vec3d& from,
               const Vec3d& to, std::int32_t height);

class Access {
 public:
  virtual ~Access() = default;
  virtual Found find_path(std::string_view domain, const Vec3d& from, const Vec3d& to,
                          const PathOptions& options) = 0;
  // None without a world.
  virtual std::optional<Steering> steer(std::string_view domain, const Vec3d& from, const Vec3d& to,
                                        std::int32_t height) = 0;
};

}  // namespace ostrel_core::path

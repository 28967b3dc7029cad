#pragma once
// World: the simulation thread's voxel world. It owns the open WorldDb and keeps, per domain
// that has been touched, the resident chunks, the chunks changed since they were last written
// and the chunks that became resident since the loop last asked. One thread uses it at a time.
//
// A chunk position in a domain is, at any moment:
//   absent   -> resident, clean  [chunk, load_stored from storage; a failed generation's stand-in]
//   stand-in -> resident         [adopt_generated of a real chunk]
//   absent   -> resident, dirty  [chunk by generation, adopt_generated]
//   resident -> dirty            [apply]
//   dirty    -> clean            [a committed save batch]
//   clean    -> absent           [unload]
//   any      -> absent           [forget_domain]
// A stand-in (the air chunk given for a failed generation) stays clean: edits to it are refused,
// its summaries are never stored, and its next load generates it again.

#include <chrono>
#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "world/chunk.hpp"
#include "world/coords.hpp"
#include "fluid/fluid.hpp"
#include "fluid/layer.hpp"
#include "building/inventory/stack.hpp"
#include "persist/world_db.hpp"
#include "proto/records/edit.hpp"
#include "world/sqlclock.hpp"
#include "world/world_source.hpp"

namespace ostrel_server::world {

using ostrel_core::chunk::Chunk;
using ostrel_core::fluid::layer::FluidLayer;
using ostrel_core::persist::WorldDb;
using ostrel_core::persist::WorldError;

inline constexpr std::uint8_t kMinLevel = 1;
inline constexpr std::uint8_t kMaxLevel = 5;
inline constexpr std::size_t kBatchChunks = 32;  // chunks of one domain in one save transaction

// One domain's chunks.
struct Space {
  std::vector<ChunkPos> dirty;    // changed since last written, in order, no duplicates
  std::vector<ChunkPos> arrived;  // became resident since the loop last took the list
  std::unordered_map<ChunkPos, Chunk> chunks;
  std::unordered_set<ChunkPos> stand_ins;  // resident chunks standing in for a failed generation

  void mark_dirty(ChunkPos pos);
  bool is_dirty(ChunkPos pos) const;
  bool is_stand_in(ChunkPos pos) const { return stand_ins.contains(pos); }
};

// A read-only view of one domain's resident chunks; never loads or generates.
class Solid {
 public:
  explicit Solid(const Space* space) : space_(space) {}
  const Chunk* resident(ChunkPos pos) const;

 private:
  const Space* space_;  // none: the domain has no resident chunks
};

enum class EditErrorKind : std::uint8_t {
  Unreachable,      // the chunk could not be loaded or generated; source: the WorldError
  UnknownMaterial,  // the material has no world id
  Outside,          // the fetched chunk does not hold the position
  StandIn,          // the chunk stands in for a failed generation and is never stored: pos
};

struct EditError {
  EditErrorKind kind = EditErrorKind::Outside;
  ChunkPos pos{};                // Unreachable, StandIn
  std::uint16_t material = 0;    // UnknownMaterial
  ostrel_core::SourcePtr cause;  // Unreachable

  std::string message() const;
  const ostrel_core::ErrorSource* source() const { return cause.get(); }
};

struct Applied {
  ChunkPos chunk;
  std::vector<ostrel_core::inventory::Stack> removed;  // one stack per material, ascending
};

struct SaveResult {
  std::size_t written = 0;
  std::size_t left = 0;
};

// Why a close did not end cleanly: chunks left unwritten (the first batch failure as source), or
// a failed checkpoint (its WorldError as source).
struct CloseError {
  std::size_t unsaved = 0;  // dirty chunks not written
  ostrel_core::SourcePtr cause;

  std::string message() const;
  const ostrel_core::ErrorSource* source() const { return cause.get(); }
};

using Chain = std::vector<std::pair<std::uint8_t, std::vector<std::uint8_t>>>;

class World {
 public:
  World(const World&) = delete;
  World& operator=(const World&) = delete;
  World(World&&) noexcept = default;
  World& operator=(World&&) noexcept = default;

  // A stored 8-byte "world_seed" wins; otherwise `seed` is written and used.
  [[nodiscard]] static std::expected<World, WorldError> open(WorldDb db, std::uint64_t seed);

  std::uint64_t seed() const { return seed_; }
  WorldDb& db() { return db_; }
  sqlclock::Log& calls() { return calls_; }
  void set_fluids(ostrel_core::fluid::Fluids fluids) { fluids_ = std::move(fluids); }
  void set_sparse(std::set<std::string, std::less<>> sparse) { sparse_ = std::move(sparse); }

  Space& space_of(std::string_view domain);
  const Chunk* resident(std::string_view domain, ChunkPos pos) const;
  Solid solid(std::string_view domain) const;
  std::vector<std::string> resident_domains() const;
  std::vector<ChunkPos> resident_positions(std::string_view domain) const;

  // The chunk at `pos`, loaded or generated when not resident.
  std::expected<Chunk*, WorldError> chunk(std::string_view domain, ChunkPos pos, ChunkSource& source);
  // Makes a stored chunk resident, never generating: false when none is stored.
  std::expected<bool, WorldError> load_stored(std::string_view domain, ChunkPos pos);
  std::expected<std::optional<FluidLayer>, WorldError> load_fluid(std::string_view domain, ChunkPos pos);
  // Keeps a chunk that became resident meanwhile and drops the offered one, unless the resident
  // one is a stand-in and the offered one is not. A stand-in is never marked dirty.
  std::expected<void, WorldError> adopt_generated(std::string_view domain, ChunkPos pos, Chunk chunk,
                                                  const FluidLayer& fluid, bool stand_in = false);
  // Whether the resident chunk at `pos` stands in for a failed generation. Its fluid is not the
  // generator's either: callers that store fluid leave such a chunk out.
  bool is_stand_in(std::string_view domain, ChunkPos pos) const;
  // Cell index x + 3y + 9z; 0 for an empty cell.
  std::expected<ostrel_core::block::Cells, WorldError> block_cells(std::string_view domain,
                                                                   ostrel_core::coords::BlockPos pos,
                                                                   ChunkSource& source);
  std::expected<Applied, EditError> apply(std::string_view domain, const ostrel_core::proto::Edit& edit,
                                          ChunkSource& source);

  std::expected<std::optional<std::vector<std::uint8_t>>, WorldError> summary_stored(std::string_view domain,
                                                                                     std::uint8_t level,
                                                                                     ChunkPos pos);
  std::expected<std::vector<std::uint8_t>, WorldError> summary(std::string_view domain, std::uint8_t level,
                                                               ChunkPos pos, ChunkSource& source);
  std::expected<std::vector<std::uint8_t>, WorldError> adopt_summaries(std::string_view domain,
                                                                       std::uint8_t level, ChunkPos pos,
                                                                       const Chain& chain);
  static std::expected<Chain, WorldError> encode_chain(const Chunk& chunk, const FluidLayer& fluid,
                                                       const ostrel_core::fluid::Fluids& fluids,
                                                       const ostrel_core::persist::idmap::MaterialMap& map);

  // Drops a clean resident chunk; false when dirty, not resident or the domain has no space.
  bool unload(std::string_view domain, ChunkPos pos);
  // Deletes the domain's stored rows, then drops its space. When the delete fails the space
  // stays and the error is answered, so the caller keeps the id and retries.
  std::expected<void, WorldError> forget_domain(std::string_view domain);
  // The arrived list, emptied.
  std::vector<ChunkPos> take_arrived(std::string_view domain);

  // --- saving (world_save.cpp) -------------------------------------------------------------
  // At most one batch of kBatchChunks per domain; no new domain once `budget` is spent and a
  // chunk was written. A failed batch is logged and its positions go to the end of the list; a
  // chunk that cannot be encoded is logged, left out of its batch and goes there alone.
  SaveResult save_dirty_within(std::chrono::nanoseconds budget);
  // Writes every dirty chunk, then checkpoints. Fails when a chunk could not be written (the
  // error names how many) or the checkpoint failed; the world is gone either way.
  static std::expected<void, CloseError> close(World world);

 private:
  World(WorldDb db, std::uint64_t seed) : db_(std::move(db)), seed_(seed) {}

  std::expected<void, WorldError> refuse_sparse(std::string_view domain) const;
  // The resident chunk, or the stored one made resident; null when neither exists.
  std::expected<Chunk*, WorldError> resident_or_stored(std::string_view domain, Space& space, ChunkPos pos);
  Chunk& adopt(std::string_view domain, Space& space, ChunkPos pos, Generated generated);
  struct Batch {
    std::size_t written = 0;          // chunks committed
    std::vector<ChunkPos> unencoded;  // left out: they could not be encoded (logged)
  };
  std::expected<Batch, WorldError> write_batch(std::string_view domain,
                                               std::span<const std::pair<ChunkPos, const Chunk*>> chunks);

  WorldDb db_;
  ostrel_core::fluid::Fluids fluids_;  // read only when summaries are built
  std::uint64_t seed_ = 0;
  std::optional<WorldError> last_batch_error_;        // the latest failed save batch or chunk
  std::set<std::string, std::less<>> sparse_;         // domains that hold no voxels
  std::map<std::string, Space, std::less<>> spaces_;  // ascending domain id
  sqlclock::Log calls_;
};

}  // namespace ostrel_server::world

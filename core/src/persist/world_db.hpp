#pragma once
// WorldDb: the open world database ("world.sqlite") with the world's material and fluid id
// maps. Every table of the world is read and written through it, by one thread at a time: the
// start-up thread while the server is assembled, then the simulation thread only.
//
// Fixed-width integers stored as `meta` values are 8 bytes, little-endian; a value of another
// length reads as absent:
//   schema_version 1 -> 01 00 00 00 00 00 00 00

#include <cstdint>
#include <expected>
#include <filesystem>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "world/chunk.hpp"
#include "world/coords.hpp"
#include "fluid/layer.hpp"
#include "persist/compress.hpp"
#include "persist/fluidmap.hpp"
#include "persist/idmap.hpp"
#include "persist/sqlite.hpp"
#include "persist/world_error.hpp"

namespace ostrel_core::fluid {
class Fluids;
}
namespace ostrel_core::material {
class Registry;
}

namespace ostrel_core::persist {

inline constexpr std::int64_t kSchemaVersion = 1;
// Raised whenever the summary format or the rule that builds summaries changes: a world whose
// stored rule differs loses its summaries on open and rebuilds them on demand.
inline constexpr std::int64_t kSummaryRule = 3;

// One world option: its id and its value.
using WorldOption = std::pair<std::string, std::string>;

class WorldDb {
 public:
  WorldDb(const WorldDb&) = delete;
  WorldDb& operator=(const WorldDb&) = delete;
  WorldDb(WorldDb&&) noexcept;
  WorldDb& operator=(WorldDb&&) noexcept;
  ~WorldDb();

  // Applies the connection settings and the schema, checks and writes the versions, and loads
  // the id maps. The connection is closed on failure. A world of another schema version is
  // refused having been read on a read-only connection of its own, and a damaged id map (another
  // name at world id 0 or 1, or id 65,535) before anything is written: the files stay as they
  // were. Reconciling material ids may register placeholders in `registry`.
  [[nodiscard]] static std::expected<WorldDb, WorldError> from_connection(
      sqlite::Connection db, std::filesystem::path path, material::Registry& registry);

  // --- id maps ------------------------------------------------------------------------------
  const idmap::MaterialMap& materials() const { return materials_; }
  const fluidmap::FluidIdTable& fluid_table() const { return fluid_table_; }
  // Reconciles stored fluid ids with the registered fluids (placeholders may be added) and
  // keeps the mapping; until then fluid ids translate unchanged.
  std::expected<void, WorldError> reconcile_fluids(fluid::Fluids& fluids);
  // The layer with world fluid ids, levels capped at 27; refuses a fluid without a world id.
  std::expected<fluid::layer::FluidLayer, WorldError> to_world_ids(coords::ChunkPos pos,
                                                                  const fluid::layer::FluidLayer& layer) const;

  // --- meta -------------------------------------------------------------------------------
  std::expected<std::optional<std::vector<std::uint8_t>>, WorldError> meta(std::string_view key);
  std::expected<void, WorldError> set_meta(std::string_view key, std::span<const std::uint8_t> value);
  // The value when it is exactly 8 bytes; nothing when absent, NULL or of another length.
  std::expected<std::optional<std::int64_t>, WorldError> read_meta_i64(std::string_view key);
  std::expected<void, WorldError> write_meta_i64(std::string_view key, std::int64_t value);

  // The options the world was created with; empty when none are stored or they are not UTF-8.
  std::expected<std::vector<WorldOption>, WorldError> world_options();
  // Refuses an option that would read back differently: an empty id, a tab or a line break in
  // the id or the value, or a carriage return at the end of either.
  std::expected<void, WorldError> set_world_options(std::span<const WorldOption> options);
  // Reads a world's options without opening it as a world (no settings, no schema) and without
  // changing any of its files: nothing when the file is absent, holds no `meta` table, or the
  // options are not UTF-8.
  static std::expected<std::optional<std::vector<WorldOption>>, sqlite::SqliteError>
  peek_world_options(const std::filesystem::path& path);

  // Size of the write-ahead log, or nothing when it cannot be examined.
  std::optional<std::uint64_t> wal_bytes() const;
  // Moves the write-ahead log into the database file without waiting; run when the world closes.
  std::expected<void, WorldError> checkpoint();

  // --- summaries ----------------------------------------------------------------------------
  std::expected<std::optional<std::vector<std::uint8_t>>, WorldError> load_summary(
      std::string_view domain, std::uint8_t level, coords::ChunkPos pos);
  // All levels in one transaction; the row count changes only once it committed.
  std::expected<void, WorldError> save_summaries(
      std::string_view domain, coords::ChunkPos pos,
      std::span<const std::pair<std::uint8_t, std::vector<std::uint8_t>>> levels);
  // Deletes every level of the chunk's summaries.
  std::expected<void, WorldError> forget_summaries(std::string_view domain, coords::ChunkPos pos);
  // Rows of `chunk_summaries`, kept current by every write that adds or deletes one.
  std::uint64_t summary_rows() const { return summary_rows_; }
  // --- chunks -----------------------------------------------------------------------------
  // The chunk blob of `chunk` in this world's ids.
  std::expected<std::vector<std::uint8_t>, WorldError> encode(std::string_view domain, coords::ChunkPos pos,
                                                              const chunk::Chunk& chunk) const;
  // The stored chunk, or nothing when it has no row.
  std::expected<std::optional<chunk::Chunk>, WorldError> load_chunk_in(std::string_view domain,
                                                                       coords::ChunkPos pos);

  // --- chunk fluid ----------------------------------------------------------------------------
  // The chunk's fluid in runtime ids, or nothing when it has no row. A stored level of 28-31
  // reads as 27. A row that does not load is kept: saves of that chunk's fluid leave it as it is
  // for the rest of the run (fluid_kept), so a failed load never turns into lost fluid.
  std::expected<std::optional<fluid::layer::FluidLayer>, WorldError> load_chunk_fluid_in(
      std::string_view domain, coords::ChunkPos pos);
  bool fluid_kept(std::string_view domain, coords::ChunkPos pos) const;
  // Forgets the chunk's summaries, then writes the layer, or deletes its row when empty; a kept
  // row refuses with FluidKept and nothing changes.
  std::expected<void, WorldError> save_chunk_fluid_in(std::string_view domain, coords::ChunkPos pos,
                                                      const fluid::layer::FluidLayer& layer);
  // The same for many chunks of one domain in one transaction; nothing lands when one fails.
  // Kept rows are left out and stay as stored; answers how many were left out.
  std::expected<std::size_t, WorldError> save_chunk_fluids_in(
      std::string_view domain,
      std::span<const std::pair<coords::ChunkPos, const fluid::layer::FluidLayer*>> layers);

  // Lowers the row count by rows another writer (the chunk save) deleted, stopping at 0.
  void note_summaries_deleted(std::int64_t rows);

  sqlite::Connection& connection() { return db_; }
  const std::filesystem::path& path() const { return path_; }
  std::span<const Dictionary> dictionaries() const { return dictionaries_; }

 private:
  WorldDb(sqlite::Connection db, std::filesystem::path path) : db_(std::move(db)), path_(std::move(path)) {}
  std::expected<void, WorldError> count_summaries();

  sqlite::Connection db_;
  std::filesystem::path path_;            // the database file; "-wal" appended names its log
  std::vector<Dictionary> dictionaries_;  // empty in every world opened so far
  idmap::MaterialMap materials_;          // built on open
  fluidmap::FluidIdTable fluid_table_;    // loaded on open
  std::optional<fluidmap::FluidMapping> fluid_mapping_;  // set by reconcile_fluids
  std::uint64_t summary_rows_ = 0;        // rows of chunk_summaries
  // (domain, chunk) whose stored fluid failed to load this run; never overwritten.
  std::set<std::pair<std::string, coords::ChunkPos>> unreadable_fluid_;
};

// Binds a chunk key as parameters 1 to 4: domain, x, y, z.
sqlite::Result<void> bind_chunk(sqlite::Statement& stmt, std::string_view domain, coords::ChunkPos pos);

// The world option lines: "{id}\t{value}" joined by "\n", no newline after the last.
std::string format_world_options(std::span<const WorldOption> options);
// Lines split at "\n" (a "\r" before it dropped), each at its first tab; lines without a tab or
// with an empty id are skipped.
std::vector<WorldOption> parse_world_options(std::string_view text);

}  // namespace ostrel_core::persist

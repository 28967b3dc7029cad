#pragma once
// WorldError: the error of every world database operation. It names what failed; the wrapped
// error (SQLite's, the chunk codec's, the id maps') is its source.

#include <cstdint>
#include <expected>
#include <string>

#include "world/coords.hpp"
#include "base/error.hpp"

namespace ostrel_core::persist {

namespace sqlite {
class SqliteError;
}

enum class WorldErrorKind : std::uint8_t {
  Sql,                        // SQLite refused a statement; source: the SqliteError
  Chunk,                      // a chunk blob would not encode or decode; source: the CodecError
  Fluid,                      // a stored fluid layer would not decode; source: the decoder's error
  Entity,                     // an entity row could not be written or read; reason says why
  ModStorage,                 // a mod's stored value, map or plan could not be read or written
  Player,                     // a player row could not be written or read
  Materials,                  // material id reconciliation failed; source: the IdMapError
  Fluids,                     // fluid id reconciliation failed; source: the FluidMapError
  FluidId,                    // a fluid id had no counterpart; source: the UnmappedFluid
  SchemaVersion,              // the world was made by an engine with another schema version
  OverworldIsNotDestroyable,  // the overworld domain cannot be deleted
  NoSuchLevel,                // a summary level outside 1..=5
  NoVoxels,                   // a domain that holds no voxels was asked for chunks
  WorldOption,                // a world option that would not read back as written
  FluidKept,                  // a save of a chunk's fluid whose stored layer failed to load: refused
};

struct WorldError {
  WorldErrorKind kind = WorldErrorKind::Sql;
  coords::ChunkPos pos{};      // Chunk, Fluid, Entity, FluidId, FluidKept
  std::string domain;          // Chunk, Fluid, Entity, NoVoxels, FluidKept
  std::string mod_id;          // ModStorage
  std::string key;             // ModStorage: the key, map or plan name; WorldOption: the id
  std::string player;          // Player
  std::string reason;          // Entity, ModStorage, Player, WorldOption
  std::int64_t found = 0;      // SchemaVersion
  std::int64_t expected = 0;   // SchemaVersion
  std::uint8_t level = 0;      // NoSuchLevel
  SourcePtr cause;             // the wrapped error, when the kind has one

  static WorldError sql(const sqlite::SqliteError& e);
  static WorldError chunk(coords::ChunkPos pos, std::string domain, SourcePtr codec);
  static WorldError fluid(coords::ChunkPos pos, std::string domain, SourcePtr decode);
  static WorldError entity(coords::ChunkPos pos, std::string domain, std::string reason);
  static WorldError mod_storage(std::string mod_id, std::string key, std::string reason);
  static WorldError player_row(std::string player, std::string reason);
  static WorldError materials(SourcePtr idmap);
  static WorldError fluids(SourcePtr fluidmap);
  static WorldError fluid_id(coords::ChunkPos pos, SourcePtr unmapped);
  static WorldError schema_version(std::int64_t found, std::int64_t expected);
  static WorldError overworld_is_not_destroyable();
  static WorldError no_such_level(std::uint8_t level);
  static WorldError no_voxels(std::string domain);
  static WorldError world_option(std::string id, std::string reason);
  static WorldError fluid_kept(coords::ChunkPos pos, std::string domain);

  std::string message() const;
  const ErrorSource* source() const { return cause.get(); }
  // "WorldError::Chunk { pos: (1, 2, 3), domain: \"overworld\" }": for logs and test output.
  std::string debug() const;
};

// WorldError::sql(e) as the failure of a result: `return sql_error(r.error());`.
std::unexpected<WorldError> sql_error(const sqlite::SqliteError& e);

}  // namespace ostrel_core::persist

#pragma once
// World material ids. Runtime MaterialIds follow registration order and change with the mod
// set; every world keeps its own stable id per material name in `id_map`, and everything stored
// or sent as chunk data uses those. Reconciliation, when the world opens, gives every registered
// name a world id and every world name a runtime id (registering placeholders as needed).

#include <cstdint>
#include <expected>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "world/material.hpp"

namespace ostrel_core::persist::sqlite {
class Connection;
class SqliteError;
}  // namespace ostrel_core::persist::sqlite

namespace ostrel_core::persist::idmap {

using material::MaterialId;
using WorldId = std::uint16_t;

// Marks a runtime id without a world id in the forward table; never handed out as a world id.
inline constexpr WorldId kUnmapped = 0xFFFF;
// The highest world id reconciliation gives a new name.
inline constexpr WorldId kMaxWorldId = 0xFFFE;

enum class IdMapErrorKind : std::uint8_t {
  Sql,                // the database failed; source: the SqliteError
  IdOutOfRange,       // a stored numeric_id outside 0..=65535: name, numeric
  Exhausted,          // no free world id is left for a new name
  Alias,              // a world name could not be registered as a placeholder: name
  UnmappedRuntimeId,  // a runtime id without a world id: id
  UnmappedWorldId,    // a world id without a runtime id: id
  Reserved,           // a stored row gives world id 0 or 1 to another name than air or unknown: name, numeric
};

struct IdMapError {
  IdMapErrorKind kind;
  std::string name;         // IdOutOfRange, Alias, Reserved
  std::int64_t numeric = 0; // IdOutOfRange, Reserved
  std::uint16_t id = 0;     // UnmappedRuntimeId, UnmappedWorldId
  SourcePtr cause;          // Sql, Alias

  static IdMapError sql(const sqlite::SqliteError& e);
  std::string message() const;
  const ErrorSource* source() const { return cause.get(); }
  std::string debug() const;
};

// The two-way translation built by reconciliation. Copied to the generation workers.
struct MaterialMap {
  std::vector<WorldId> forward;          // indexed by runtime id; kUnmapped when none
  std::map<WorldId, MaterialId> reverse; // world id -> runtime id
  std::set<MaterialId> placeholders;     // runtime ids registered for names no mod registers
  bool identity = false;                 // ids translate unchanged (tests, tools)
  // reverse as a table indexed by world id (kNoRuntime where none), for decoding chunks without
  // a tree lookup per cell; empty until build_lookup, and then to_runtime uses it.
  std::vector<std::uint32_t> reverse_table;

  static constexpr std::uint32_t kNoRuntime = 0xFFFF'FFFF;
  static MaterialMap identity_map();
  // Fills reverse_table from reverse. Call again after changing reverse.
  void build_lookup();
  std::expected<WorldId, IdMapError> to_world(MaterialId runtime) const;
  std::expected<MaterialId, IdMapError> to_runtime(WorldId world) const;
};

// The rows of id_map.
struct IdTable {
  std::map<std::string, WorldId, std::less<>> by_name;
  std::map<WorldId, std::string> by_id;

  // Refuses a row outside 0..=65534 (IdOutOfRange) and one that gives 0 or 1 to a name other
  // than "engine:air" or "engine:unknown" (Reserved); reads only.
  static std::expected<IdTable, IdMapError> load(sqlite::Connection& db);
  std::expected<void, IdMapError> insert(sqlite::Connection& db, const std::string& name, WorldId id);
  // Gives every registered name a world id (the lowest free one from 2) and registers every
  // world name the registry lacks as a placeholder; then builds the map.
  std::expected<MaterialMap, IdMapError> reconcile(sqlite::Connection& db, material::Registry& registry);
};

}  // namespace ostrel_core::persist::idmap

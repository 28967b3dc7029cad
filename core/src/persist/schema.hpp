#pragma once
// The world database's schema script and connection settings.

#include <string_view>

#include "persist/sqlite.hpp"

namespace ostrel_core::persist::schema {

// Every table and index of a world, created when absent. Run in full on every open, so a table
// added by a later engine shows up, empty, in an older world.
extern const std::string_view kSchemaScript;

// The table names, in the order the script creates them.
inline constexpr std::string_view kTables[] = {
    "meta",    "id_map",       "chunks",       "chunk_summaries", "chunk_fluid",
    "fluid_ids", "players",    "player_keys",  "player_names",    "entities",
    "mod_storage", "mod_maps", "mod_plans",    "containers"};
inline constexpr std::string_view kIndexes[] = {"entities_by_chunk", "chunk_summaries_by_pos",
                                                "player_keys_by_uuid"};

// Write-ahead log, synchronous NORMAL, foreign keys on, a 5000 ms busy timeout.
sqlite::Result<void> apply_pragmas(sqlite::Connection& db);
sqlite::Result<void> run_schema(sqlite::Connection& db);
// Copies what the write-ahead log holds into the database file without waiting for readers.
sqlite::Result<void> checkpoint_passive(sqlite::Connection& db);

}  // namespace ostrel_core::persist::schema

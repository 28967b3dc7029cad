#include "persist/schema.hpp"

#include <string>

namespace ostrel_core::persist::schema {

const std::string_view kSchemaScript = R"sql(
CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value BLOB);
CREATE TABLE IF NOT EXISTS id_map (string_id TEXT PRIMARY KEY, numeric_id INTEGER UNIQUE NOT NULL);
CREATE TABLE IF NOT EXISTS chunks (
  domain TEXT NOT NULL DEFAULT 'overworld',
  x INT NOT NULL, y INT NOT NULL, z INT NOT NULL,
  version INT NOT NULL, data BLOB NOT NULL,
  PRIMARY KEY (domain, x, y, z));
CREATE TABLE IF NOT EXISTS chunk_summaries (
  domain TEXT NOT NULL DEFAULT 'overworld',
  level INT NOT NULL, x INT NOT NULL, y INT NOT NULL, z INT NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY (domain, level, x, y, z));
CREATE TABLE IF NOT EXISTS chunk_fluid (
  domain TEXT NOT NULL DEFAULT 'overworld',
  x INT NOT NULL, y INT NOT NULL, z INT NOT NULL,
  data BLOB NOT NULL,
  PRIMARY KEY (domain, x, y, z));
CREATE TABLE IF NOT EXISTS fluid_ids (string_id TEXT PRIMARY KEY, numeric_id INTEGER UNIQUE NOT NULL);
CREATE TABLE IF NOT EXISTS players (uuid TEXT PRIMARY KEY, version INT NOT NULL, data BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS player_keys (
  uuid TEXT NOT NULL, pubkey BLOB NOT NULL, next_key_hash BLOB,
  added_at INT NOT NULL, added_by_pubkey BLOB, revoked_at INT,
  PRIMARY KEY (uuid, pubkey));
CREATE TABLE IF NOT EXISTS player_names (server_name TEXT PRIMARY KEY, uuid TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS entities (
  id INTEGER PRIMARY KEY,
  domain TEXT NOT NULL DEFAULT 'overworld',
  chunk_x INT NOT NULL, chunk_y INT NOT NULL, chunk_z INT NOT NULL,
  version INT NOT NULL, data BLOB NOT NULL);
CREATE TABLE IF NOT EXISTS mod_storage (
  mod_id TEXT NOT NULL, key TEXT NOT NULL, value BLOB NOT NULL,
  PRIMARY KEY (mod_id, key));
CREATE TABLE IF NOT EXISTS mod_maps (
  mod_id TEXT NOT NULL, name TEXT NOT NULL,
  side INTEGER NOT NULL, scale INTEGER NOT NULL,
  origin_x INTEGER NOT NULL, origin_z INTEGER NOT NULL,
  samples BLOB NOT NULL,
  PRIMARY KEY (mod_id, name));
CREATE TABLE IF NOT EXISTS mod_plans (
  mod_id TEXT NOT NULL, name TEXT NOT NULL, data BLOB NOT NULL,
  PRIMARY KEY (mod_id, name));
CREATE TABLE IF NOT EXISTS containers (name TEXT PRIMARY KEY, version INT NOT NULL, data BLOB NOT NULL);
CREATE INDEX IF NOT EXISTS entities_by_chunk ON entities (domain, chunk_x, chunk_y, chunk_z);
CREATE INDEX IF NOT EXISTS chunk_summaries_by_pos ON chunk_summaries (domain, x, y, z);
CREATE INDEX IF NOT EXISTS player_keys_by_uuid ON player_keys (uuid);
)sql";

namespace {

// A pragma that answers with a row; the row itself is not examined.
sqlite::Result<void> query_row(sqlite::Connection& db, std::string_view sql) {
  auto stmt = db.prepare(sql);
  if (!stmt) return std::unexpected(stmt.error());
  auto row = stmt->step();
  if (!row) return std::unexpected(row.error());
  if (!*row) return std::unexpected(sqlite::SqliteError(1, std::string(sql) + " returned no row"));
  return {};
}

}  // namespace

sqlite::Result<void> apply_pragmas(sqlite::Connection& db) {
  if (auto r = query_row(db, "PRAGMA journal_mode = WAL"); !r) return r;
  return db.exec(
      "PRAGMA synchronous = NORMAL;"
      "PRAGMA foreign_keys = ON;"
      "PRAGMA busy_timeout = 5000;");
}

sqlite::Result<void> run_schema(sqlite::Connection& db) { return db.exec(kSchemaScript); }

sqlite::Result<void> checkpoint_passive(sqlite::Connection& db) {
  return query_row(db, "PRAGMA wal_checkpoint(PASSIVE)");
}

}  // namespace ostrel_core::persist::schema

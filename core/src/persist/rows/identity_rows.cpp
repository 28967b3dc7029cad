#include "persist/rows/identity_rows.hpp"

#include "persist/sqlite.hpp"
#include "persist/world_db.hpp"

namespace ostrel_core::persist::identity_rows {

namespace {

// Continuation lines of a statement start with 13 blanks.
constexpr std::string_view kAddKeySql =
    "INSERT INTO player_keys (uuid, pubkey, next_key_hash, added_at, added_by_pubkey)\n"
    "             VALUES (?1, ?2, ?3, ?4, ?5)\n"
    "             ON CONFLICT(uuid, pubkey) DO UPDATE SET next_key_hash = excluded.next_key_hash";
constexpr std::string_view kPutKeySql =
    "INSERT INTO player_keys (uuid, pubkey, next_key_hash, added_at, added_by_pubkey, revoked_at)\n"
    "             VALUES (?1, ?2, ?3, ?4, ?5, ?6)\n"
    "             ON CONFLICT(uuid, pubkey) DO UPDATE SET next_key_hash = excluded.next_key_hash,\n"
    "             added_at = excluded.added_at, added_by_pubkey = excluded.added_by_pubkey,\n"
    "             revoked_at = excluded.revoked_at";
constexpr std::string_view kRevokeSql = "UPDATE player_keys SET revoked_at = ?3 WHERE uuid = ?1 AND pubkey = ?2";
constexpr std::string_view kAllKeysSql =
    "SELECT pubkey, next_key_hash, added_at, added_by_pubkey, revoked_at\n"
    "             FROM player_keys WHERE uuid = ?1\n"
    "             ORDER BY added_at, pubkey";
constexpr std::string_view kAllUuidsSql = "SELECT DISTINCT uuid FROM player_keys ORDER BY uuid";
constexpr std::string_view kAllNamesSql = "SELECT server_name, uuid FROM player_names ORDER BY server_name";
constexpr std::string_view kSetNameSql =
    "INSERT INTO player_names (server_name, uuid) VALUES (?1, ?2)\n"
    "             ON CONFLICT(server_name) DO UPDATE SET uuid = excluded.uuid";
constexpr std::string_view kReleaseNameSql = "DELETE FROM player_names WHERE server_name = ?1";

sqlite::Result<void> bind_optional_blob(sqlite::Statement& stmt, int index,
                                        std::optional<std::span<const std::uint8_t>> v) {
  return v ? stmt.bind_blob(index, *v) : stmt.bind_null(index);
}

std::optional<std::vector<std::uint8_t>> optional_blob(const sqlite::Statement& row, int col) {
  if (row.column_is_null(col)) return std::nullopt;
  auto b = row.column_blob(col);
  return std::vector<std::uint8_t>(b.begin(), b.end());
}

std::optional<std::span<const std::uint8_t>> as_span(const std::optional<std::vector<std::uint8_t>>& v) {
  if (!v) return std::nullopt;
  return std::span<const std::uint8_t>(*v);
}

// Prepares `sql`, binds with `bind` and runs it to completion.
template <class Bind>
std::expected<void, WorldError> run(WorldDb& db, std::string_view sql, Bind bind) {
  auto stmt = db.connection().prepare(sql);
  if (!stmt) return sql_error(stmt.error());
  if (auto b = bind(*stmt); !b) return sql_error(b.error());
  if (auto r = stmt->run(); !r) return sql_error(r.error());
  return {};
}

// Collects one value per row with `read`.
template <class T, class Read>
std::expected<std::vector<T>, WorldError> collect(sqlite::Statement& stmt, Read read) {
  std::vector<T> out;
  for (;;) {
    auto more = stmt.step();
    if (!more) return sql_error(more.error());
    if (!*more) return out;
    out.push_back(read(stmt));
  }
}

}  // namespace

std::expected<void, WorldError> add_player_key(WorldDb& db, std::string_view uuid, std::span<const std::uint8_t> pubkey,
                                               std::optional<std::span<const std::uint8_t>> next_key_hash,
                                               std::int64_t added_at,
                                               std::optional<std::span<const std::uint8_t>> added_by_pubkey) {
  return run(db, kAddKeySql, [&](sqlite::Statement& s) -> sqlite::Result<void> {
    if (auto r = s.bind_text(1, uuid); !r) return r;
    if (auto r = s.bind_blob(2, pubkey); !r) return r;
    if (auto r = bind_optional_blob(s, 3, next_key_hash); !r) return r;
    if (auto r = s.bind_i64(4, added_at); !r) return r;
    return bind_optional_blob(s, 5, added_by_pubkey);
  });
}

std::expected<void, WorldError> put_player_key(WorldDb& db, std::string_view uuid, const StoredPlayerKey& key) {
  return run(db, kPutKeySql, [&](sqlite::Statement& s) -> sqlite::Result<void> {
    if (auto r = s.bind_text(1, uuid); !r) return r;
    if (auto r = s.bind_blob(2, key.pubkey); !r) return r;
    if (auto r = bind_optional_blob(s, 3, as_span(key.next_key_hash)); !r) return r;
    if (auto r = s.bind_i64(4, key.added_at); !r) return r;
    if (auto r = bind_optional_blob(s, 5, as_span(key.added_by_pubkey)); !r) return r;
    return key.revoked_at ? s.bind_i64(6, *key.revoked_at) : s.bind_null(6);
  });
}

std::expected<void, WorldError> revoke_player_key(WorldDb& db, std::string_view uuid,
                                                  std::span<const std::uint8_t> pubkey, std::int64_t revoked_at) {
  return run(db, kRevokeSql, [&](sqlite::Statement& s) -> sqlite::Result<void> {
    if (auto r = s.bind_text(1, uuid); !r) return r;
    if (auto r = s.bind_blob(2, pubkey); !r) return r;
    return s.bind_i64(3, revoked_at);
  });
}

std::expected<std::vector<StoredPlayerKey>, WorldError> all_player_keys(WorldDb& db, std::string_view uuid) {
  auto stmt = db.connection().prepare(kAllKeysSql);
  if (!stmt) return sql_error(stmt.error());
  if (auto r = stmt->bind_text(1, uuid); !r) return sql_error(r.error());
  return collect<StoredPlayerKey>(*stmt, [](const sqlite::Statement& row) {
    StoredPlayerKey k;
    auto pk = row.column_blob(0);
    k.pubkey.assign(pk.begin(), pk.end());
    k.next_key_hash = optional_blob(row, 1);
    k.added_at = row.column_i64(2);
    k.added_by_pubkey = optional_blob(row, 3);
    if (!row.column_is_null(4)) k.revoked_at = row.column_i64(4);
    return k;
  });
}

std::expected<std::vector<std::string>, WorldError> all_player_uuids(WorldDb& db) {
  auto stmt = db.connection().prepare(kAllUuidsSql);
  if (!stmt) return sql_error(stmt.error());
  return collect<std::string>(*stmt, [](const sqlite::Statement& row) { return std::string(row.column_text(0)); });
}

std::expected<std::vector<NameBinding>, WorldError> all_name_bindings(WorldDb& db) {
  auto stmt = db.connection().prepare(kAllNamesSql);
  if (!stmt) return sql_error(stmt.error());
  return collect<NameBinding>(*stmt, [](const sqlite::Statement& row) {
    return NameBinding{std::string(row.column_text(0)), std::string(row.column_text(1))};
  });
}

std::expected<void, WorldError> set_name(WorldDb& db, std::string_view server_name, std::string_view uuid) {
  return run(db, kSetNameSql, [&](sqlite::Statement& s) -> sqlite::Result<void> {
    if (auto r = s.bind_text(1, server_name); !r) return r;
    return s.bind_text(2, uuid);
  });
}

std::expected<void, WorldError> release_name(WorldDb& db, std::string_view server_name) {
  return run(db, kReleaseNameSql, [&](sqlite::Statement& s) { return s.bind_text(1, server_name); });
}

}  // namespace ostrel_core::persist::identity_rows

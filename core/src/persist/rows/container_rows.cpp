#include "persist/rows/container_rows.hpp"

#include "persist/world_db.hpp"

namespace ostrel_core::persist::container_rows {

namespace {

constexpr std::string_view kSave =
    "INSERT INTO containers (name, version, data) VALUES (?1, ?2, ?3)\n"
    "             ON CONFLICT(name) DO UPDATE SET version = excluded.version, data = excluded.data";
constexpr std::string_view kLoadAll = "SELECT name, data FROM containers";
constexpr std::string_view kDelete = "DELETE FROM containers WHERE name = ?1";

}  // namespace

std::expected<void, WorldError> save_container(WorldDb& db, std::string_view name, std::uint8_t version,
                                               std::span<const std::uint8_t> data) {
  auto stmt = db.connection().prepare(kSave);
  if (!stmt) return sql_error(stmt.error());
  sqlite::Result<void> r = stmt->bind_text(1, name);
  if (r) r = stmt->bind_i64(2, version);
  if (r) r = stmt->bind_blob(3, data);
  if (r) r = stmt->run();
  if (!r) return sql_error(r.error());
  return {};
}

std::expected<std::vector<std::pair<std::string, std::vector<std::uint8_t>>>, WorldError> load_containers(
    WorldDb& db) {
  auto stmt = db.connection().prepare(kLoadAll);
  if (!stmt) return sql_error(stmt.error());
  std::vector<std::pair<std::string, std::vector<std::uint8_t>>> out;
  for (;;) {
    auto row = stmt->step();
    if (!row) return sql_error(row.error());
    if (!*row) break;
    auto blob = stmt->column_blob(1);
    out.emplace_back(std::string(stmt->column_text(0)), std::vector<std::uint8_t>(blob.begin(), blob.end()));
  }
  return out;
}

std::expected<void, WorldError> delete_container(WorldDb& db, std::string_view name) {
  auto stmt = db.connection().prepare(kDelete);
  if (!stmt) return sql_error(stmt.error());
  sqlite::Result<void> r = stmt->bind_text(1, name);
  if (r) r = stmt->run();
  if (!r) return sql_error(r.error());
  return {};
}

containers::Encoded row_data(const inventory::slots::View& view, const idmap::MaterialMap& map) {
  containers::Encoded record = containers::encode(view, map);
  record.bytes.insert(record.bytes.begin(), containers::kContainerVersion);
  return record;
}

}  // namespace ostrel_core::persist::container_rows

#include "persist/rows/player_rows.hpp"

#include "persist/world_db.hpp"

namespace ostrel_core::persist::player_rows {

namespace {

constexpr std::string_view kLoad = "SELECT data FROM players WHERE uuid = ?1";
constexpr std::string_view kSave =
    "INSERT INTO players (uuid, version, data) VALUES (?1, ?2, ?3)\n"
    "             ON CONFLICT(uuid) DO UPDATE SET version = excluded.version, data = excluded.data";

}  // namespace

std::expected<std::optional<std::vector<std::uint8_t>>, WorldError> load_player(WorldDb& db,
                                                                                std::string_view uuid) {
  auto stmt = db.connection().prepare(kLoad);
  if (!stmt) return sql_error(stmt.error());
  if (auto r = stmt->bind_text(1, uuid); !r) return sql_error(r.error());
  auto row = stmt->step();
  if (!row) return sql_error(row.error());
  if (!*row) return std::nullopt;
  auto blob = stmt->column_blob(0);
  return std::vector<std::uint8_t>(blob.begin(), blob.end());
}

std::expected<void, WorldError> save_player(WorldDb& db, std::string_view uuid, std::uint8_t version,
                                            std::span<const std::uint8_t> data) {
  auto stmt = db.connection().prepare(kSave);
  if (!stmt) return sql_error(stmt.error());
  sqlite::Result<void> r = stmt->bind_text(1, uuid);
  if (r) r = stmt->bind_i64(2, version);
  if (r) r = stmt->bind_blob(3, data);
  if (r) r = stmt->run();
  if (!r) return sql_error(r.error());
  return {};
}

playerdata::Encoded row_data(const inventory::slots::Slots& slots, const idmap::MaterialMap& map) {
  playerdata::Encoded record = playerdata::encode(slots, map);
  record.bytes.insert(record.bytes.begin(), playerdata::kPlayerVersion);
  return record;
}

std::expected<playerdata::Decoded, WorldError> slots_of_row(std::string_view uuid,
                                                            std::span<const std::uint8_t> data,
                                                            const inventory::slots::Slots& template_slots,
                                                            const idmap::MaterialMap& map) {
  if (data.empty())
    return std::unexpected(WorldError::player_row(std::string(uuid), "the stored row is empty"));
  auto decoded = playerdata::decode(data[0], data.subspan(1), template_slots, map);
  if (!decoded) return std::unexpected(WorldError::player_row(std::string(uuid), decoded.error().message()));
  return std::move(*decoded);
}

}  // namespace ostrel_core::persist::player_rows

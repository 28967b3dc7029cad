// The mod data rows: key-value storage, maps and plans, each keyed by the owning
// mod's id. These tables are small and rarely written: every statement is prepared per call.
//
// mod_maps.samples: side * side little-endian f32, row by row, as one zstd frame.
//   side 1, sample 1.0f -> frame of 00 00 80 3f

#include "persist/rows/mod_rows.hpp"

#include <bit>
#include <cstring>
#include <limits>

#include "base/log.hpp"
#include "persist/world_db.hpp"
#include "proto/codec.hpp"

namespace ostrel_core::persist::mod_rows {

namespace {

constexpr const char* kLogTarget = "ostrel_core::persist";

// 4 MiB of samples (a 1,024-sided map) and 1 KiB of slack.
constexpr std::size_t kMaxMapBytes = 4'195'328;
// 1 MiB and 64 KiB.
constexpr std::size_t kMaxPlanBytes = 1'114'112;

// Binds text parameters 1..n in order.
template <class... S>
sqlite::Result<void> bind_texts(sqlite::Statement& stmt, const S&... texts) {
  int index = 0;
  sqlite::Result<void> result;
  ((result ? (result = stmt.bind_text(++index, texts), 0) : 0), ...);
  return result;
}

std::vector<std::uint8_t> map_sample_bytes(const std::vector<float>& samples) {
  std::vector<std::uint8_t> raw(samples.size() * 4);
  for (std::size_t i = 0; i < samples.size(); ++i) {
    const auto bits = std::bit_cast<std::uint32_t>(samples[i]);
    for (int k = 0; k < 4; ++k) raw[4 * i + k] = static_cast<std::uint8_t>(bits >> (8 * k));
  }
  return raw;
}

void warn_map(const char* message, std::string_view mod_id, std::string_view name) {
  OSTREL_WARN(kLogTarget, message, log::text("mod_id", mod_id), log::text("name", name));
}

// One row of mod_maps as a map, or null after logging why it was skipped.
std::optional<detgen::map::Map> map_of_row(sqlite::Statement& row, std::string_view mod_id,
                                           std::string_view name) {
  const std::int64_t side = row.column_i64(2);
  const std::int64_t scale = row.column_i64(3);
  const std::int64_t ox = row.column_i64(4);
  const std::int64_t oz = row.column_i64(5);
  constexpr auto i32_min = std::numeric_limits<std::int32_t>::min();
  constexpr auto i32_max = std::numeric_limits<std::int32_t>::max();
  constexpr auto u32_max = std::numeric_limits<std::uint32_t>::max();
  if (ox < i32_min || ox > i32_max || oz < i32_min || oz > i32_max || side < 0 ||
      side > u32_max || scale < 0 || scale > u32_max) {
    warn_map("skipping a map whose shape will not fit", mod_id, name);
    return std::nullopt;
  }
  if (side < 1 || side > detgen::map::kMaxSide || scale == 0) {
    warn_map("skipping a map with an impossible shape", mod_id, name);
    return std::nullopt;
  }
  auto raw = decompress(row.column_blob(6), kMaxMapBytes);
  if (!raw) {
    warn_map("skipping a map that will not decompress", mod_id, name);
    return std::nullopt;
  }
  const auto count = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
  if (raw->size() != count * 4) {
    warn_map("skipping a map of the wrong length", mod_id, name);
    return std::nullopt;
  }
  detgen::map::Map map;
  map.side = static_cast<std::uint32_t>(side);
  map.scale = static_cast<std::uint32_t>(scale);
  map.origin_x = static_cast<std::int32_t>(ox);
  map.origin_z = static_cast<std::int32_t>(oz);
  map.samples.resize(count);
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t bits = 0;
    for (int k = 3; k >= 0; --k) bits = (bits << 8) | (*raw)[4 * i + k];
    map.samples[i] = std::bit_cast<float>(bits);
  }
  return map;
}

}  // namespace

std::expected<std::map<std::string, storage::Value>, WorldError> load_mod_storage(WorldDb& db,
                                                                                  std::string_view mod_id) {
  auto stmt = db.connection().prepare("SELECT key, value FROM mod_storage WHERE mod_id = ?1 ORDER BY key");
  if (!stmt) return sql_error(stmt.error());
  if (auto r = stmt->bind_text(1, mod_id); !r) return sql_error(r.error());
  std::map<std::string, storage::Value> out;
  for (;;) {
    auto row = stmt->step();
    if (!row) return sql_error(row.error());
    if (!*row) break;
    std::string key(stmt->column_text(0));
    auto value = storage::decode_value(stmt->column_blob(1));
    if (!value) return std::unexpected(WorldError::mod_storage(std::string(mod_id), key, value.error()));
    out.insert_or_assign(std::move(key), std::move(*value));
  }
  return out;
}

std::expected<void, WorldError> save_mod_storage_changes(WorldDb& db, std::string_view mod_id,
                                                         std::span<const StorageChange> changes) {
  if (auto r = db.connection().begin(); !r) return sql_error(r.error());
  auto fail = [&](const sqlite::SqliteError& e) {
    db.connection().rollback();
    return sql_error(e);
  };
  {
    auto put = db.connection().prepare(
        "INSERT OR REPLACE INTO mod_storage (mod_id, key, value) VALUES (?1, ?2, ?3)");
    if (!put) return fail(put.error());
    auto del = db.connection().prepare("DELETE FROM mod_storage WHERE mod_id = ?1 AND key = ?2");
    if (!del) return fail(del.error());
    for (const auto& change : changes) {
      sqlite::Statement& stmt = change.value ? *put : *del;
      stmt.reset();
      if (auto r = bind_texts(stmt, mod_id, change.key); !r) return fail(r.error());
      if (change.value) {
        auto bytes = storage::encode_value(*change.value);
        if (auto r = stmt.bind_blob(3, bytes); !r) return fail(r.error());
      }
      if (auto r = stmt.run(); !r) return fail(r.error());
    }
  }
  if (auto r = db.connection().commit(); !r) return fail(r.error());
  return {};
}

std::expected<std::vector<StoredMap>, WorldError> all_maps(WorldDb& db) {
  auto stmt =
      db.connection().prepare("SELECT mod_id, name, side, scale, origin_x, origin_z, samples FROM mod_maps");
  if (!stmt) return sql_error(stmt.error());
  std::vector<StoredMap> out;
  for (;;) {
    auto row = stmt->step();
    if (!row) return sql_error(row.error());
    if (!*row) break;
    std::string mod_id(stmt->column_text(0));
    std::string name(stmt->column_text(1));
    if (auto map = map_of_row(*stmt, mod_id, name)) {
      out.push_back(StoredMap{std::move(mod_id), std::move(name), std::move(*map)});
    }
  }
  return out;
}

std::expected<void, WorldError> save_map(WorldDb& db, std::string_view mod_id, std::string_view name,
                                         const detgen::map::Map& map) {
  auto frame = compress(map_sample_bytes(map.samples));
  if (!frame) {
    return std::unexpected(
        WorldError::mod_storage(std::string(mod_id), std::string(name), frame.error().message()));
  }
  auto stmt = db.connection().prepare(
      "INSERT OR REPLACE INTO mod_maps (mod_id, name, side, scale, origin_x, origin_z, samples) "
      "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7)");
  if (!stmt) return sql_error(stmt.error());
  sqlite::Result<void> r = bind_texts(*stmt, mod_id, name);
  if (r) r = stmt->bind_i64(3, map.side);
  if (r) r = stmt->bind_i64(4, map.scale);
  if (r) r = stmt->bind_i64(5, map.origin_x);
  if (r) r = stmt->bind_i64(6, map.origin_z);
  if (r) r = stmt->bind_blob(7, *frame);
  if (r) r = stmt->run();
  if (!r) return sql_error(r.error());
  return {};
}

std::expected<std::vector<std::string>, WorldError> plan_names(WorldDb& db, std::string_view mod_id) {
  auto stmt = db.connection().prepare("SELECT name FROM mod_plans WHERE mod_id = ?1 ORDER BY name");
  if (!stmt) return sql_error(stmt.error());
  if (auto r = stmt->bind_text(1, mod_id); !r) return sql_error(r.error());
  std::vector<std::string> out;
  for (;;) {
    auto row = stmt->step();
    if (!row) return sql_error(row.error());
    if (!*row) break;
    out.emplace_back(stmt->column_text(0));
  }
  return out;
}

std::expected<std::optional<plan::Plan>, WorldError> load_plan(WorldDb& db, std::string_view mod_id,
                                                               std::string_view name) {
  auto stmt = db.connection().prepare("SELECT data FROM mod_plans WHERE mod_id = ?1 AND name = ?2");
  if (!stmt) return sql_error(stmt.error());
  if (auto r = bind_texts(*stmt, mod_id, name); !r) return sql_error(r.error());
  auto row = stmt->step();
  if (!row) return sql_error(row.error());
  if (!*row) return std::nullopt;
  // A damaged plan reads as an absent one: only the database itself can fail this call.
  auto damaged = [&](std::string_view why) -> std::optional<plan::Plan> {
    OSTREL_ERROR(kLogTarget, fmt::format("a stored plan is damaged and reads as absent: {}", why),
                 log::text("mod", mod_id), log::text("plan", name));
    return std::nullopt;
  };
  auto raw = decompress(stmt->column_blob(0), kMaxPlanBytes);
  if (!raw) return damaged(raw.error().message());
  proto::Reader reader(*raw);
  plan::Plan plan;
  proto::read_value(reader, plan);
  if (!reader.ok()) return damaged("the record does not decode");
  if (auto why = plan.damage()) return damaged(*why);
  return plan;
}

std::expected<void, WorldError> save_plan(WorldDb& db, std::string_view mod_id, std::string_view name,
                                          const plan::Plan& plan) {
  auto frame = compress(proto::encode(plan));
  if (!frame) {
    return std::unexpected(
        WorldError::mod_storage(std::string(mod_id), std::string(name), frame.error().message()));
  }
  auto stmt =
      db.connection().prepare("INSERT OR REPLACE INTO mod_plans (mod_id, name, data) VALUES (?1, ?2, ?3)");
  if (!stmt) return sql_error(stmt.error());
  sqlite::Result<void> r = bind_texts(*stmt, mod_id, name);
  if (r) r = stmt->bind_blob(3, *frame);
  if (r) r = stmt->run();
  if (!r) return sql_error(r.error());
  return {};
}

std::expected<bool, WorldError> delete_plan(WorldDb& db, std::string_view mod_id, std::string_view name) {
  auto stmt = db.connection().prepare("DELETE FROM mod_plans WHERE mod_id = ?1 AND name = ?2");
  if (!stmt) return sql_error(stmt.error());
  sqlite::Result<void> r = bind_texts(*stmt, mod_id, name);
  if (r) r = stmt->run();
  if (!r) return sql_error(r.error());
  return db.connection().changes() > 0;
}

}  // namespace ostrel_core::persist::mod_rows

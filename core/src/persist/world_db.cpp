#include "persist/world_db.hpp"

#include <system_error>

#include <fmt/format.h>

#include "world/material.hpp"
#include "persist/schema.hpp"
#include "proto/codec.hpp"
#include "base/version.hpp"

namespace ostrel_core::persist {

namespace {

constexpr std::string_view kSelectMeta = "SELECT value FROM meta WHERE key = ?1";
constexpr std::string_view kUpsertMeta =
    "INSERT INTO meta (key, value) VALUES (?1, ?2)\n"
    "             ON CONFLICT(key) DO UPDATE SET value = excluded.value";

std::optional<std::int64_t> i64_of(std::span<const std::uint8_t> v) {
  if (v.size() != 8) return std::nullopt;
  std::uint64_t u = 0;
  for (int i = 7; i >= 0; --i) u = (u << 8) | v[i];
  return static_cast<std::int64_t>(u);
}

std::array<std::uint8_t, 8> le_bytes(std::int64_t v) {
  std::array<std::uint8_t, 8> out{};
  auto u = static_cast<std::uint64_t>(v);
  for (auto& b : out) {
    b = static_cast<std::uint8_t>(u);
    u >>= 8;
  }
  return out;
}

// A meta value read straight from a connection; a NULL value reads as empty.
sqlite::Result<std::optional<std::vector<std::uint8_t>>> read_meta(sqlite::Connection& db,
                                                                    std::string_view key) {
  auto stmt = db.prepare(kSelectMeta);
  if (!stmt) return std::unexpected(stmt.error());
  if (auto r = stmt->bind_text(1, key); !r) return std::unexpected(r.error());
  auto row = stmt->step();
  if (!row) return std::unexpected(row.error());
  if (!*row) return std::nullopt;
  auto blob = stmt->column_blob(0);
  return std::vector<std::uint8_t>(blob.begin(), blob.end());
}

sqlite::Result<bool> has_table(sqlite::Connection& db, std::string_view name) {
  auto stmt = db.prepare("SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
  if (!stmt) return std::unexpected(stmt.error());
  if (auto r = stmt->bind_text(1, name); !r) return std::unexpected(r.error());
  return stmt->step();
}

// The schema version a world already holds, read without writing anything: a world of another
// version must leave this build exactly as it came.
sqlite::Result<std::optional<std::int64_t>> stored_schema_version(sqlite::Connection& db) {
  auto exists = has_table(db, "meta");
  if (!exists) return std::unexpected(exists.error());
  if (!*exists) return std::nullopt;
  auto v = read_meta(db, "schema_version");
  if (!v) return std::unexpected(v.error());
  if (!*v) return std::nullopt;
  return i64_of(**v);
}

// The options of a stored `world_options` value; nothing when it is absent or not UTF-8.
std::optional<std::vector<WorldOption>> options_of(const std::optional<std::vector<std::uint8_t>>& value) {
  if (!value || !proto::is_valid_utf8(*value)) return std::nullopt;
  return parse_world_options({reinterpret_cast<const char*>(value->data()), value->size()});
}

std::optional<std::string> option_fault(std::string_view s, bool is_id) {
  if (is_id && s.empty()) return "an option id may not be empty";
  if (s.find('\t') != std::string_view::npos) return "a tab would split it differently when read";
  if (s.find('\n') != std::string_view::npos) return "a line break would split it when read";
  if (!s.empty() && s.back() == '\r') return "a carriage return at its end would be dropped when read";
  return std::nullopt;
}

}  // namespace

WorldDb::WorldDb(WorldDb&&) noexcept = default;
WorldDb& WorldDb::operator=(WorldDb&&) noexcept = default;
WorldDb::~WorldDb() = default;

std::expected<WorldDb, WorldError> WorldDb::from_connection(sqlite::Connection db,
                                                            std::filesystem::path path,
                                                            material::Registry& registry) {
  // A world of another version is read on a connection of its own that cannot write: closing
  // `db` would otherwise checkpoint a pending write-ahead log into the refused file.
  std::error_code missing;
  if (std::filesystem::exists(path, missing)) {
    auto reader = sqlite::Connection::open_read_only(path);
    if (!reader) return sql_error(reader.error());
    auto found = stored_schema_version(*reader);
    if (!found) return sql_error(found.error());
    if (*found && **found != kSchemaVersion) {
      return std::unexpected(WorldError::schema_version(**found, kSchemaVersion));
    }
  }
  if (auto r = schema::apply_pragmas(db); !r) return sql_error(r.error());
  if (auto r = schema::run_schema(db); !r) return sql_error(r.error());

  WorldDb world(std::move(db), std::move(path));
  // The check above ran before the schema existed; read again now that meta surely does.
  auto version = world.read_meta_i64("schema_version");
  if (!version) return std::unexpected(version.error());
  if (!*version) {
    if (auto r = world.write_meta_i64("schema_version", kSchemaVersion); !r) return std::unexpected(r.error());
  } else if (**version != kSchemaVersion) {
    return std::unexpected(WorldError::schema_version(**version, kSchemaVersion));
  }
  // The id map is checked before anything is written: a damaged map refuses the open and leaves
  // the file as it was.
  auto table = idmap::IdTable::load(world.db_);
  if (!table) return std::unexpected(WorldError::materials(make_source(table.error())));
  std::string_view engine(kEngineVersion);
  if (auto r = world.set_meta("engine_version",
                              {reinterpret_cast<const std::uint8_t*>(engine.data()), engine.size()});
      !r) {
    return std::unexpected(r.error());
  }
  auto rule = world.read_meta_i64("summary_rule");
  if (!rule) return std::unexpected(rule.error());
  if (*rule != kSummaryRule) {
    if (auto r = world.db_.exec("DELETE FROM chunk_summaries"); !r) return sql_error(r.error());
    if (auto r = world.write_meta_i64("summary_rule", kSummaryRule); !r) return std::unexpected(r.error());
  }
  auto materials = table->reconcile(world.db_, registry);
  if (!materials) return std::unexpected(WorldError::materials(make_source(materials.error())));
  world.materials_ = std::move(*materials);
  auto fluids = fluidmap::FluidIdTable::load(world.db_);
  if (!fluids) return std::unexpected(WorldError::fluids(make_source(fluids.error())));
  world.fluid_table_ = std::move(*fluids);
  if (auto r = world.count_summaries(); !r) return std::unexpected(r.error());
  return world;
}

std::expected<void, WorldError> WorldDb::count_summaries() {
  auto stmt = db_.prepare("SELECT COUNT(*) FROM chunk_summaries");
  if (!stmt) return sql_error(stmt.error());
  auto row = stmt->step();
  if (!row) return sql_error(row.error());
  const std::int64_t n = *row ? stmt->column_i64(0) : 0;
  summary_rows_ = n < 0 ? 0 : static_cast<std::uint64_t>(n);
  return {};
}

std::expected<std::optional<std::vector<std::uint8_t>>, WorldError> WorldDb::meta(std::string_view key) {
  auto v = read_meta(db_, key);
  if (!v) return sql_error(v.error());
  return std::move(*v);
}

std::expected<void, WorldError> WorldDb::set_meta(std::string_view key,
                                                  std::span<const std::uint8_t> value) {
  auto stmt = db_.prepare(kUpsertMeta);
  if (!stmt) return sql_error(stmt.error());
  if (auto r = stmt->bind_text(1, key); !r) return sql_error(r.error());
  if (auto r = stmt->bind_blob(2, value); !r) return sql_error(r.error());
  if (auto r = stmt->run(); !r) return sql_error(r.error());
  return {};
}

std::expected<std::optional<std::int64_t>, WorldError> WorldDb::read_meta_i64(std::string_view key) {
  auto v = meta(key);
  if (!v) return std::unexpected(v.error());
  if (!*v) return std::nullopt;
  return i64_of(**v);
}

std::expected<void, WorldError> WorldDb::write_meta_i64(std::string_view key, std::int64_t value) {
  auto bytes = le_bytes(value);
  return set_meta(key, bytes);
}

std::string format_world_options(std::span<const WorldOption> options) {
  std::string out;
  for (std::size_t i = 0; i < options.size(); ++i) {
    if (i > 0) out += '\n';
    out += options[i].first;
    out += '\t';
    out += options[i].second;
  }
  return out;
}

std::vector<WorldOption> parse_world_options(std::string_view text) {
  std::vector<WorldOption> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    const bool last = end == std::string_view::npos;
    std::string_view line = text.substr(start, last ? std::string_view::npos : end - start);
    if (!last && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::size_t tab = line.find('\t');
    if (tab != std::string_view::npos && tab > 0) {
      out.emplace_back(std::string(line.substr(0, tab)), std::string(line.substr(tab + 1)));
    }
    if (last) break;
    start = end + 1;
  }
  return out;
}

std::expected<std::vector<WorldOption>, WorldError> WorldDb::world_options() {
  auto v = meta("world_options");
  if (!v) return std::unexpected(v.error());
  return options_of(*v).value_or(std::vector<WorldOption>{});
}

std::expected<void, WorldError> WorldDb::set_world_options(std::span<const WorldOption> options) {
  for (const auto& [id, value] : options) {
    if (auto fault = option_fault(id, true)) return std::unexpected(WorldError::world_option(id, *fault));
    if (auto fault = option_fault(value, false)) {
      return std::unexpected(WorldError::world_option(id, "its value: " + *fault));
    }
  }
  std::string text = format_world_options(options);
  return set_meta("world_options", {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()});
}

std::expected<std::optional<std::vector<WorldOption>>, sqlite::SqliteError>
WorldDb::peek_world_options(const std::filesystem::path& path) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  // Read-only: a world that is then refused (another schema) keeps every file as it was; a
  // read-write connection would checkpoint a pending log into the file as it closed.
  auto db = sqlite::Connection::open_read_only(path);
  if (!db) return std::unexpected(db.error());
  // Checking for the table first keeps a foreign file as it is and needs no error text matching.
  auto exists = has_table(*db, "meta");
  if (!exists) return std::unexpected(exists.error());
  if (!*exists) return std::nullopt;
  auto v = read_meta(*db, "world_options");
  if (!v) return std::unexpected(v.error());
  return options_of(*v);
}

std::optional<std::uint64_t> WorldDb::wal_bytes() const {
  std::error_code ec;
  auto wal = path_;
  wal += "-wal";
  auto n = std::filesystem::file_size(wal, ec);
  if (ec) return std::nullopt;
  return n;
}

std::expected<void, WorldError> WorldDb::checkpoint() {
  if (auto r = schema::checkpoint_passive(db_); !r) return sql_error(r.error());
  return {};
}

void WorldDb::note_summaries_deleted(std::int64_t rows) {
  if (rows <= 0) return;
  const auto n = static_cast<std::uint64_t>(rows);
  summary_rows_ = n > summary_rows_ ? 0 : summary_rows_ - n;
}

}  // namespace ostrel_core::persist

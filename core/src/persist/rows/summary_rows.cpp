// The chunk_summaries rows of WorldDb and the running count of them. The count changes only
// after the statements that changed the table succeeded, and never goes below 0.

#include <limits>

#include "persist/world_db.hpp"

namespace ostrel_core::persist {

namespace {

constexpr std::string_view kLoadSummary =
    "SELECT data FROM chunk_summaries\n"
    "                 WHERE domain = ?1 AND level = ?2 AND x = ?3 AND y = ?4 AND z = ?5";
constexpr std::string_view kCountChunkSummaries =
    "SELECT COUNT(*) FROM chunk_summaries\n"
    "                 WHERE domain = ?1 AND x = ?2 AND y = ?3 AND z = ?4";
constexpr std::string_view kUpsertSummary =
    "INSERT INTO chunk_summaries (domain, level, x, y, z, data)\n"
    "                 VALUES (?1, ?2, ?3, ?4, ?5, ?6)\n"
    "                 ON CONFLICT(domain, level, x, y, z) DO UPDATE SET data = excluded.data";

sqlite::Result<std::int64_t> count_chunk_summaries(sqlite::Connection& db, std::string_view domain,
                                                   coords::ChunkPos pos) {
  auto stmt = db.prepare(kCountChunkSummaries);
  if (!stmt) return std::unexpected(stmt.error());
  auto r = bind_chunk(*stmt, domain, pos);
  if (!r) return std::unexpected(r.error());
  auto row = stmt->step();
  if (!row) return std::unexpected(row.error());
  return *row ? stmt->column_i64(0) : 0;
}

}  // namespace

sqlite::Result<void> bind_chunk(sqlite::Statement& stmt, std::string_view domain, coords::ChunkPos pos) {
  sqlite::Result<void> r = stmt.bind_text(1, domain);
  if (r) r = stmt.bind_i64(2, pos.x);
  if (r) r = stmt.bind_i64(3, pos.y);
  if (r) r = stmt.bind_i64(4, pos.z);
  return r;
}

std::expected<std::optional<std::vector<std::uint8_t>>, WorldError> WorldDb::load_summary(
    std::string_view domain, std::uint8_t level, coords::ChunkPos pos) {
  auto stmt = db_.cached(kLoadSummary);
  if (!stmt) return sql_error(stmt.error());
  sqlite::Result<void> r = stmt->bind_text(1, domain);
  if (r) r = stmt->bind_i64(2, level);
  if (r) r = stmt->bind_i64(3, pos.x);
  if (r) r = stmt->bind_i64(4, pos.y);
  if (r) r = stmt->bind_i64(5, pos.z);
  if (!r) return sql_error(r.error());
  auto row = stmt->step();
  if (!row) return sql_error(row.error());
  if (!*row) return std::nullopt;
  auto blob = stmt->column_blob(0);
  return std::vector<std::uint8_t>(blob.begin(), blob.end());
}

std::expected<void, WorldError> WorldDb::save_summaries(
    std::string_view domain, coords::ChunkPos pos,
    std::span<const std::pair<std::uint8_t, std::vector<std::uint8_t>>> levels) {
  if (auto r = db_.begin(); !r) return sql_error(r.error());
  auto fail = [&](const sqlite::SqliteError& e) {
    db_.rollback();
    return sql_error(e);
  };
  auto before = count_chunk_summaries(db_, domain, pos);
  if (!before) return fail(before.error());
  {
    auto upsert = db_.prepare(kUpsertSummary);
    if (!upsert) return fail(upsert.error());
    for (const auto& [level, bytes] : levels) {
      upsert->reset();
      sqlite::Result<void> r = upsert->bind_text(1, domain);
      if (r) r = upsert->bind_i64(2, level);
      if (r) r = upsert->bind_i64(3, pos.x);
      if (r) r = upsert->bind_i64(4, pos.y);
      if (r) r = upsert->bind_i64(5, pos.z);
      if (r) r = upsert->bind_blob(6, bytes);
      if (r) r = upsert->run();
      if (!r) return fail(r.error());
    }
  }
  auto after = count_chunk_summaries(db_, domain, pos);
  if (!after) return fail(after.error());
  if (auto r = db_.commit(); !r) return fail(r.error());
  if (*after > *before) {
    const auto added = static_cast<std::uint64_t>(*after - *before);
    const auto room = std::numeric_limits<std::uint64_t>::max() - summary_rows_;
    summary_rows_ += added > room ? room : added;
  }
  return {};
}

std::expected<void, WorldError> WorldDb::forget_summaries(std::string_view domain, coords::ChunkPos pos) {
  auto stmt = db_.prepare("DELETE FROM chunk_summaries WHERE domain = ?1 AND x = ?2 AND y = ?3 AND z = ?4");
  if (!stmt) return sql_error(stmt.error());
  sqlite::Result<void> r = bind_chunk(*stmt, domain, pos);
  if (r) r = stmt->run();
  if (!r) return sql_error(r.error());
  note_summaries_deleted(db_.changes());
  return {};
}

}  // namespace ostrel_core::persist

#include "world/domain_store.hpp"

#include <fmt/format.h>

#include "persist/sqlite.hpp"
#include "persist/world_db.hpp"
#include "proto/codec.hpp"

namespace ostrel_core::domain_store {
namespace {

// The meta value as text; none when absent or not UTF-8.
std::expected<std::optional<std::string>, WorldError> meta_text(WorldDb& db, std::string_view key) {
  auto v = db.meta(key);
  if (!v) return std::unexpected(v.error());
  if (!*v || !proto::is_valid_utf8(**v)) return std::nullopt;
  return std::string((*v)->begin(), (*v)->end());
}

// The meta value as text, read by `parse`; an empty list when absent or not UTF-8.
template <class Parse>
auto parsed_text(WorldDb& db, std::string_view key, Parse parse)
    -> std::expected<decltype(parse(std::string_view{})), WorldError> {
  auto text = meta_text(db, key);
  if (!text) return std::unexpected(text.error());
  if (!*text) return {};
  return parse(**text);
}

std::expected<void, WorldError> set_text(WorldDb& db, std::string_view key, const std::string& text) {
  return db.set_meta(key, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

}  // namespace

std::expected<std::vector<std::pair<std::string, std::string>>, WorldError> domain_instances(WorldDb& db) {
  return parsed_text(db, "domain_instances", domain::parse_instances);
}

std::expected<void, WorldError> set_domain_instances(
    WorldDb& db, const std::vector<std::pair<std::string, std::string>>& v) {
  return set_text(db, "domain_instances", domain::format_instances(v));
}

std::expected<std::vector<std::pair<std::string, domain::UniversalPos>>, WorldError> domain_positions(
    WorldDb& db) {
  return parsed_text(db, "domain_positions", domain::parse_positions);
}

std::expected<void, WorldError> set_domain_positions(
    WorldDb& db, const std::vector<std::pair<std::string, domain::UniversalPos>>& v) {
  return set_text(db, "domain_positions", domain::format_positions(v));
}

std::expected<std::vector<std::pair<std::string, domain::DomainSky>>, WorldError> domain_skies(WorldDb& db) {
  auto v = db.meta("domain_skies");
  if (!v) return std::unexpected(v.error());
  if (!*v) return {};
  return domain::decode_skies(**v);
}

std::expected<void, WorldError> set_domain_skies(
    WorldDb& db, const std::vector<std::pair<std::string, domain::DomainSky>>& v) {
  return db.set_meta("domain_skies", domain::encode_skies(v));
}

std::expected<void, WorldError> remove_domain(WorldDb& db, std::string_view id) {
  if (id == domain::kOverworld) return std::unexpected(WorldError::overworld_is_not_destroyable());
  auto& conn = db.connection();
  auto fail = [&](const persist::sqlite::SqliteError& e) {
    conn.rollback();
    return std::unexpected(WorldError::sql(e));
  };
  if (auto r = conn.begin(); !r) return fail(r.error());
  std::int64_t summaries = 0;
  for (const char* table : {"chunks", "chunk_fluid", "entities", "chunk_summaries"}) {
    auto stmt = conn.prepare(fmt::format("DELETE FROM {} WHERE domain = ?1", table));
    if (!stmt) return fail(stmt.error());
    if (auto r = stmt->bind_text(1, id); !r) return fail(r.error());
    if (auto r = stmt->run(); !r) return fail(r.error());
    if (std::string_view(table) == "chunk_summaries") summaries = conn.changes();
  }
  if (auto r = conn.commit(); !r) return fail(r.error());
  db.note_summaries_deleted(summaries);
  return {};
}

}  // namespace ostrel_core::domain_store

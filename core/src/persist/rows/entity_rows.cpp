#include "persist/rows/entity_rows.hpp"

#include <fmt/format.h>

#include <string>

#include "persist/records/cutcells.hpp"
#include "persist/records/entity_record.hpp"
#include "persist/world_db.hpp"

namespace ostrel_core::persist::entity_rows {

namespace {

constexpr const char* kDeleteChunk =
    "DELETE FROM entities\n"
    "                 WHERE domain = ?1 AND chunk_x = ?2 AND chunk_y = ?3 AND chunk_z = ?4";
constexpr const char* kInsert =
    "INSERT INTO entities (domain, chunk_x, chunk_y, chunk_z, version, data)\n"
    "                 VALUES (?1, ?2, ?3, ?4, ?5, ?6)";
constexpr const char* kSelectChunk =
    "SELECT version, data FROM entities\n"
    "             WHERE domain = ?1 AND chunk_x = ?2 AND chunk_y = ?3 AND chunk_z = ?4\n"
    "             ORDER BY id";

WorldError entity_error(coords::ChunkPos pos, std::string_view domain, std::string reason) {
  return WorldError::entity(pos, std::string(domain), std::move(reason));
}

// The stored item in this run's ids, or nothing when it is not a stack at all (0 units, air).
std::expected<std::optional<inventory::Stack>, WorldError> thaw_item(const idmap::MaterialMap& map,
                                                                     inventory::Stack item,
                                                                     std::string_view domain,
                                                                     coords::ChunkPos pos) {
  auto material = map.to_runtime(item.material);
  if (!material) {
    return std::unexpected(entity_error(
        pos, domain,
        fmt::format("the stack it is names no material of this world: {}", material.error().message())));
  }
  item.material = *material;
  if (item.cells) {
    std::array<idmap::WorldId, 27> world{};
    std::copy(item.cells->begin(), item.cells->end(), world.begin());
    auto cells = cutcells::to_runtime(world, map);
    if (!cells)
      return std::unexpected(
          entity_error(pos, domain, "a cell of the stack it is names no material of this world"));
    item.cells = *cells;
  }
  // A mask from disk is limited to 27 bits; none or all cells is a whole block.
  if (item.shape) {
    const std::uint32_t mask = *item.shape & inventory::OCCUPANCY_FULL;
    item.shape = mask == 0 || mask == inventory::OCCUPANCY_FULL ? std::nullopt : std::optional(mask);
  }
  if (!item.cells && (item.units == 0 || item.material == 0)) return std::nullopt;
  return inventory::Stack::canonical(std::move(item));
}

std::expected<ent::Entity, WorldError> read_row(const idmap::MaterialMap& map, std::int64_t version,
                                                std::span<const std::uint8_t> data, std::string_view domain,
                                                coords::ChunkPos pos) {
  if (static_cast<std::uint64_t>(version) > 255) {
    return std::unexpected(entity_error(pos, domain,
                                        fmt::format("stored in format version {}, this build writes {}",
                                                    version, entity_record::kEntityVersion)));
  }
  std::expected<ent::Entity, WorldError> entity;
  if (version == entity_record::kEntityVersion) {
    auto e = entity_record::decode(data);
    if (!e) return std::unexpected(entity_error(pos, domain, entity_record::describe(e.error())));
    entity = std::move(*e);
  } else {
    auto e = entity_record::migrate_entity(static_cast<std::uint8_t>(version), data);
    if (!e) return std::unexpected(entity_error(pos, domain, e.error().message()));
    entity = std::move(*e);
  }
  if (entity->item) {
    auto item = thaw_item(map, std::move(*entity->item), domain, pos);
    if (!item) return std::unexpected(item.error());
    entity->item = std::move(*item);
  }
  return entity;
}

}  // namespace

std::expected<ent::Entity, WorldError> stored(const WorldDb& db, const ent::Entity& entity,
                                              std::string_view domain, coords::ChunkPos pos) {
  if (!entity.item) return entity;
  const idmap::MaterialMap& map = db.materials();
  auto material = map.to_world(entity.item->material);
  if (!material) {
    return std::unexpected(entity_error(
        pos, domain, fmt::format("the stack it is cannot be named on disk: {}", material.error().message())));
  }
  ent::Entity out = entity;
  out.item->material = *material;
  if (out.item->cells) {
    auto cells = cutcells::to_world(*out.item->cells, map);
    if (!cells)
      return std::unexpected(entity_error(pos, domain, "a cell of the stack it is cannot be named on disk"));
    std::copy(cells->begin(), cells->end(), out.item->cells->begin());
  }
  return out;
}

std::expected<void, WorldError> save_chunk_entities_batch_in(WorldDb& db, std::string_view domain,
                                                             std::span<const ChunkEntities> batch) {
  // Encode everything before the transaction opens.
  std::vector<std::vector<std::vector<std::uint8_t>>> records;
  records.reserve(batch.size());
  for (const ChunkEntities& chunk : batch) {
    auto& rows = records.emplace_back();
    rows.reserve(chunk.entities.size());
    for (const ent::Entity& e : chunk.entities) {
      auto s = stored(db, e, domain, chunk.pos);
      if (!s) return std::unexpected(s.error());
      rows.push_back(entity_record::encode(*s));
    }
  }

  sqlite::Connection& conn = db.connection();
  if (auto r = conn.begin(); !r) return sql_error(r.error());
  auto fail = [&](const sqlite::SqliteError& e) {
    conn.rollback();
    return sql_error(e);
  };
  {
    auto remove = conn.cached(kDeleteChunk);
    if (!remove) return fail(remove.error());
    auto insert = conn.cached(kInsert);
    if (!insert) return fail(insert.error());
    for (std::size_t i = 0; i < batch.size(); ++i) {
      remove->reset();
      sqlite::Result<void> r = bind_chunk(*remove, domain, batch[i].pos);
      if (r) r = remove->run();
      if (!r) return fail(r.error());
      for (const auto& data : records[i]) {
        insert->reset();
        r = bind_chunk(*insert, domain, batch[i].pos);
        if (r) r = insert->bind_i64(5, entity_record::kEntityVersion);
        if (r) r = insert->bind_blob(6, data);
        if (r) r = insert->run();
        if (!r) return fail(r.error());
      }
    }
  }
  if (auto r = conn.commit(); !r) return fail(r.error());
  return {};
}

std::expected<std::vector<ent::Entity>, WorldError> load_chunk_entities_in(WorldDb& db,
                                                                           std::string_view domain,
                                                                           coords::ChunkPos pos) {
  auto stmt = db.connection().cached(kSelectChunk);
  if (!stmt) return sql_error(stmt.error());
  if (auto r = bind_chunk(*stmt, domain, pos); !r) return sql_error(r.error());
  std::vector<ent::Entity> out;
  for (;;) {
    auto row = stmt->step();
    if (!row) return sql_error(row.error());
    if (!*row) break;
    auto e = read_row(db.materials(), stmt->column_i64(0), stmt->column_blob(1), domain, pos);
    if (!e) return std::unexpected(e.error());
    out.push_back(std::move(*e));
  }
  return out;
}

}  // namespace ostrel_core::persist::entity_rows

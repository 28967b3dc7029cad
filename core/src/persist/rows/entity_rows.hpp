#pragma once
// Rows of the `entities` table: one row per entity saved with a chunk, holding the stored
// entity record (persist/entity_record.hpp) and its version. Every save replaces a chunk's
// rows whole; rows of one chunk read back in insertion order.
//
// A load that fails leaves the chunk's rows as they are: the caller must not save that
// chunk's entities (which would replace the stored rows with nothing) until a load succeeds.

#include <expected>
#include <span>
#include <string_view>
#include <vector>

#include "world/coords.hpp"
#include "movement/ent.hpp"
#include "persist/world_error.hpp"

namespace ostrel_core::persist {
class WorldDb;
}

namespace ostrel_core::persist::entity_rows {

// One chunk's entities for a batch save.
struct ChunkEntities {
  coords::ChunkPos pos;
  std::vector<ent::Entity> entities;  // may be empty: the chunk's rows are deleted
};

// The entity in its stored form: itself without an item, otherwise a copy whose item carries
// world material ids. Fails with WorldError Entity when the item cannot be named on disk.
std::expected<ent::Entity, WorldError> stored(const WorldDb& db, const ent::Entity& entity,
                                              std::string_view domain, coords::ChunkPos pos);

// Replaces the rows of every chunk of the batch in one transaction. Everything is encoded
// first: an entity that cannot be named on disk fails the call before anything is written; a
// statement failure rolls the whole batch back.
std::expected<void, WorldError> save_chunk_entities_batch_in(WorldDb& db, std::string_view domain,
                                                             std::span<const ChunkEntities> batch);

// The chunk's stored entities in row order, with runtime material ids. The first row that
// cannot be read fails the whole call (WorldError Entity or Sql).
std::expected<std::vector<ent::Entity>, WorldError> load_chunk_entities_in(WorldDb& db,
                                                                           std::string_view domain,
                                                                           coords::ChunkPos pos);

}  // namespace ostrel_core::persist::entity_rows

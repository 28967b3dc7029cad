// The chunks rows of WorldDb: one blob per chunk, keyed by domain and position.

#include "persist/records/codec.hpp"
#include "persist/world_db.hpp"

namespace ostrel_core::persist {

std::expected<std::vector<std::uint8_t>, WorldError> WorldDb::encode(std::string_view domain, coords::ChunkPos pos,
                                                                     const chunk::Chunk& chunk) const {
  const Dictionary* dict = dictionaries_.empty() ? nullptr : &dictionaries_.front();
  auto blob = codec::encode_chunk(chunk, materials_, dict);
  if (!blob) return std::unexpected(WorldError::chunk(pos, std::string(domain), make_source(blob.error())));
  return std::move(*blob);
}

std::expected<std::optional<chunk::Chunk>, WorldError> WorldDb::load_chunk_in(std::string_view domain,
                                                                              coords::ChunkPos pos) {
  auto stmt = db_.cached("SELECT data FROM chunks WHERE domain = ?1 AND x = ?2 AND y = ?3 AND z = ?4");
  if (!stmt) return sql_error(stmt.error());
  if (auto r = bind_chunk(*stmt, domain, pos); !r) return sql_error(r.error());
  auto row = stmt->step();
  if (!row) return sql_error(row.error());
  if (!*row) return std::nullopt;
  auto chunk = codec::decode_chunk(pos, stmt->column_blob(0), materials_, dictionaries_);
  if (!chunk) return std::unexpected(WorldError::chunk(pos, std::string(domain), make_source(chunk.error())));
  return std::move(*chunk);
}

}  // namespace ostrel_core::persist

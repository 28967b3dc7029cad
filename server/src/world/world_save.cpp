// Saving World's dirty chunks in bounded batches, and closing.

#include <fmt/format.h>

#include "base/assert.hpp"
#include "base/log.hpp"
#include "persist/sqlite.hpp"
#include "world/world.hpp"

namespace ostrel_server::world {
namespace {

namespace log = ostrel_core::log;
using ostrel_core::persist::sqlite::SqliteError;

const std::string kUpsertChunk =
    "INSERT INTO chunks (domain, x, y, z, version, data)\n"
    "                 VALUES (?1, ?2, ?3, ?4, ?5, ?6)\n"
    "                 ON CONFLICT(domain, x, y, z) DO UPDATE SET version = excluded.version,\n"
    "                                                            data = excluded.data";
const std::string kDeleteSummaries =
    "DELETE FROM chunk_summaries WHERE domain = ?1 AND x = ?2 AND y = ?3 AND z = ?4";
constexpr std::int64_t kChunkVersion = 1;

}  // namespace

std::string CloseError::message() const {
  if (unsaved > 0) return fmt::format("{} chunks were not written when the world closed", unsaved);
  return "the world's write-ahead log could not be checkpointed";
}

std::expected<World::Batch, WorldError> World::write_batch(
    std::string_view domain, std::span<const std::pair<ChunkPos, const Chunk*>> given) {
  // Chunk by chunk: one that cannot be encoded stays out of the batch instead of failing it.
  Batch out;
  std::vector<std::pair<ChunkPos, std::vector<std::uint8_t>>> chunks;
  chunks.reserve(given.size());
  for (const auto& [pos, chunk] : given) {
    OSTREL_ASSERT(chunk->check_invariants());
    auto blob = db_.encode(domain, pos, *chunk);
    if (blob) {
      chunks.emplace_back(pos, std::move(*blob));
      continue;
    }
    OSTREL_ERROR(
        "ostrel_server::world",
        fmt::format("a chunk could not be encoded and stays unsaved: {}", ostrel_core::report(blob.error())),
        log::text("domain", domain), log::value("pos", pos));
    out.unencoded.push_back(pos);
    last_batch_error_ = blob.error();
  }
  if (chunks.empty()) return out;
  auto& conn = db_.connection();
  auto fail = [&](const SqliteError& e) {
    conn.rollback();
    return std::unexpected(WorldError::sql(e));
  };
  if (auto r = conn.begin(); !r) return fail(r.error());
  {
    auto upsert = conn.cached(kUpsertChunk);
    if (!upsert) return fail(upsert.error());
    for (std::size_t i = 0; i < chunks.size(); ++i) {
      if (auto r = ostrel_core::persist::bind_chunk(*upsert, domain, chunks[i].first); !r)
        return fail(r.error());
      if (auto r = upsert->bind_i64(5, kChunkVersion); !r) return fail(r.error());
      if (auto r = upsert->bind_blob(6, chunks[i].second); !r) return fail(r.error());
      if (auto r = upsert->run(); !r) return fail(r.error());
      upsert->reset();
    }
  }
  std::int64_t deleted = 0;
  {
    auto forget = conn.cached(kDeleteSummaries);
    if (!forget) return fail(forget.error());
    for (const auto& entry : chunks) {
      if (auto r = ostrel_core::persist::bind_chunk(*forget, domain, entry.first); !r) return fail(r.error());
      if (auto r = forget->run(); !r) return fail(r.error());
      deleted += conn.changes();
      forget->reset();
    }
  }
  if (auto r = conn.commit(); !r) return fail(r.error());
  db_.note_summaries_deleted(deleted);
  out.written = chunks.size();
  return out;
}

SaveResult World::save_dirty_within(std::chrono::nanoseconds budget) {
  const auto start = sqlclock::Clock::now();
  SaveResult out;
  for (auto& [domain, space] : spaces_) {
    if (space.dirty.empty()) continue;
    if (out.written > 0 && sqlclock::Clock::now() - start >= budget) {
      out.left += space.dirty.size();
      continue;
    }
    std::vector<ChunkPos> batch = std::exchange(space.dirty, {});
    if (batch.size() > kBatchChunks) {
      space.dirty.assign(batch.begin() + kBatchChunks, batch.end());
      out.left += space.dirty.size();
      batch.resize(kBatchChunks);
    }
    std::vector<std::pair<ChunkPos, const Chunk*>> list;
    list.reserve(batch.size());
    for (ChunkPos pos : batch) {
      auto it = space.chunks.find(pos);
      if (it == space.chunks.end()) {
        OSTREL_WARN("ostrel_server::world", "a dirty chunk was evicted before it could be saved",
                    log::text("domain", domain), log::value("pos", pos));
        continue;
      }
      list.emplace_back(pos, &it->second);
    }
    auto wrote = sqlclock::timed(calls_, "save chunk batch", [&] { return write_batch(domain, list); });
    if (wrote) {
      out.written += wrote->written;
      for (ChunkPos pos : wrote->unencoded) space.mark_dirty(pos);
      out.left += wrote->unencoded.size();
      continue;
    }
    OSTREL_WARN("ostrel_server::world",
                fmt::format("could not save {} chunks: {}", batch.size(), ostrel_core::report(wrote.error())),
                log::text("domain", domain));
    for (ChunkPos pos : batch) space.mark_dirty(pos);
    out.left += batch.size();
    last_batch_error_ = wrote.error();
  }
  return out;
}

std::expected<void, CloseError> World::close(World world) {
  constexpr auto kNoLimit = std::chrono::nanoseconds::max();
  while (true) {
    const SaveResult pass = world.save_dirty_within(kNoLimit);
    if (pass.left == 0 || pass.written == 0) break;
  }
  std::size_t unsaved = 0;
  for (const auto& [domain, space] : world.spaces_) {
    for (ChunkPos pos : space.dirty) unsaved += space.chunks.contains(pos) ? 1 : 0;
  }
  auto checkpoint = world.db_.checkpoint();
  if (unsaved > 0) {
    OSTREL_ERROR("ostrel_server::world", "chunks were left unwritten when the world closed",
                 log::value("unsaved", unsaved));
    ostrel_core::SourcePtr cause;
    if (world.last_batch_error_) cause = ostrel_core::make_source(*world.last_batch_error_);
    return std::unexpected(CloseError{unsaved, std::move(cause)});
  }
  if (!checkpoint) return std::unexpected(CloseError{0, ostrel_core::make_source(checkpoint.error())});
  return {};
}

}  // namespace ostrel_server::world

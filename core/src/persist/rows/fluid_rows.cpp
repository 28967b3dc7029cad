// The chunk_fluid rows of WorldDb and the translation of fluid ids between this run and the
// world. A chunk has a row only while its stored layer holds fluid. Every write of a chunk's
// fluid forgets the chunk's summaries first.

#include "base/layer_runs.hpp"
#include "fluid/codec.hpp"
#include "fluid/fluid.hpp"
#include "persist/world_db.hpp"

namespace ostrel_core::persist {

namespace {

using fluid::Fluid;
using fluid::layer::FluidLayer;

constexpr std::string_view kLoadFluid =
    "SELECT data FROM chunk_fluid WHERE domain = ?1 AND x = ?2 AND y = ?3 AND z = ?4";
constexpr std::string_view kDeleteFluid =
    "DELETE FROM chunk_fluid WHERE domain = ?1 AND x = ?2 AND y = ?3 AND z = ?4";
constexpr std::string_view kUpsertFluid =
    "INSERT INTO chunk_fluid (domain, x, y, z, data) VALUES (?1, ?2, ?3, ?4, ?5)\n"
    "             ON CONFLICT(domain, x, y, z) DO UPDATE SET data = excluded.data";
constexpr std::string_view kDeleteSummaries =
    "DELETE FROM chunk_summaries WHERE domain = ?1 AND x = ?2 AND y = ?3 AND z = ?4";

WorldError unmapped(coords::ChunkPos pos, std::uint8_t id, const char* direction) {
  return WorldError::fluid_id(pos, make_source(fluidmap::UnmappedFluid{id, direction}));
}

// Each state's fluid id through `table`, its level capped at a full block. A fluid id is bits
// 5-8; a word with anything above bit 8 is not a state and is refused like an unknown id.
std::expected<FluidLayer, WorldError> translate(coords::ChunkPos pos, const FluidLayer& layer,
                                                const std::array<std::uint8_t, 16>& table,
                                                const char* direction) {
  if (layer.empty()) return FluidLayer{};
  std::vector<Fluid> out(fluid::layer::kBlocks);
  const auto states = layer.states();
  for (std::size_t i = 0; i < states.size(); ++i) {
    const Fluid s = states[i];
    if (s.level() == 0 || s.id() == 0) continue;
    if ((s.bits >> 9) != 0) return std::unexpected(unmapped(pos, static_cast<std::uint8_t>(s.bits >> 5), direction));
    const std::uint8_t mapped = table[s.id()];
    if (mapped == 0) return std::unexpected(unmapped(pos, s.id(), direction));
    const auto level = std::min<std::uint8_t>(s.level(), fluid::kFullLevel);
    out[i] = Fluid::of(mapped, level);
  }
  return FluidLayer::from_blocks(out);
}

// The stored runs with every word of level 28-31 (and a fluid id, nothing above bit 8) read
// as level 27, as the translation caps levels; none when no word needs it. Any other word that
// is not a state is left for the decoder to refuse.
std::optional<std::vector<std::uint8_t>> capped_levels(std::span<const std::uint8_t> bytes) {
  std::optional<std::vector<std::uint8_t>> out;
  if (bytes.empty() || bytes[0] != fluid::codec::kTagRuns) return out;
  // Run k's state word sits at 1 + 4k + 2.
  for (std::size_t at = 1 + 2; at + 2 <= bytes.size(); at += fluid::codec::kRunSize) {
    const Fluid word{layer_runs::get_u16(&bytes[at])};
    if (word.level() <= fluid::kFullLevel) continue;
    const Fluid capped{static_cast<std::uint16_t>((word.bits & ~Fluid::kLevelMask) | fluid::kFullLevel)};
    if (!capped.is_wet()) continue;
    if (!out) out.emplace(bytes.begin(), bytes.end());
    (*out)[at] = static_cast<std::uint8_t>(capped.bits);
    (*out)[at + 1] = static_cast<std::uint8_t>(capped.bits >> 8);
  }
  return out;
}

}  // namespace

std::expected<void, WorldError> WorldDb::reconcile_fluids(fluid::Fluids& fluids) {
  auto mapping = fluid_table_.reconcile(db_, fluids);
  if (!mapping) return std::unexpected(WorldError::fluids(make_source(mapping.error())));
  fluid_mapping_ = *mapping;
  return {};
}

std::expected<FluidLayer, WorldError> WorldDb::to_world_ids(coords::ChunkPos pos, const FluidLayer& layer) const {
  const auto mapping = fluid_mapping_.value_or(fluidmap::FluidMapping::identity());
  return translate(pos, layer, mapping.to_world, "session");
}

std::expected<std::optional<FluidLayer>, WorldError> WorldDb::load_chunk_fluid_in(std::string_view domain,
                                                                                 coords::ChunkPos pos) {
  auto stmt = db_.cached(kLoadFluid);
  if (!stmt) return sql_error(stmt.error());
  if (auto r = bind_chunk(*stmt, domain, pos); !r) return sql_error(r.error());
  auto row = stmt->step();
  if (!row) return sql_error(row.error());
  if (!*row) return std::nullopt;
  const auto bytes = stmt->column_blob(0);
  const auto capped = capped_levels(bytes);
  auto stored = fluid::codec::decode(capped ? std::span<const std::uint8_t>(*capped) : bytes);
  const auto key = std::pair(std::string(domain), pos);
  if (!stored) {
    unreadable_fluid_.insert(key);
    return std::unexpected(WorldError::fluid(pos, std::string(domain), make_source(stored.error())));
  }
  const auto mapping = fluid_mapping_.value_or(fluidmap::FluidMapping::identity());
  auto layer = translate(pos, *stored, mapping.to_runtime, "world");
  if (!layer) {
    unreadable_fluid_.insert(key);
    return std::unexpected(layer.error());
  }
  unreadable_fluid_.erase(key);
  return std::move(*layer);
}

bool WorldDb::fluid_kept(std::string_view domain, coords::ChunkPos pos) const {
  return unreadable_fluid_.contains(std::pair(std::string(domain), pos));
}

std::expected<void, WorldError> WorldDb::save_chunk_fluid_in(std::string_view domain, coords::ChunkPos pos,
                                                             const FluidLayer& layer) {
  if (fluid_kept(domain, pos)) return std::unexpected(WorldError::fluid_kept(pos, std::string(domain)));
  if (auto r = forget_summaries(domain, pos); !r) return r;
  if (layer.empty()) {
    auto stmt = db_.prepare(kDeleteFluid);
    if (!stmt) return sql_error(stmt.error());
    sqlite::Result<void> r = bind_chunk(*stmt, domain, pos);
    if (r) r = stmt->run();
    if (!r) return sql_error(r.error());
    return {};
  }
  auto world = to_world_ids(pos, layer);
  if (!world) return std::unexpected(world.error());
  const auto bytes = fluid::codec::encode(*world);
  auto stmt = db_.prepare(kUpsertFluid);
  if (!stmt) return sql_error(stmt.error());
  sqlite::Result<void> r = bind_chunk(*stmt, domain, pos);
  if (r) r = stmt->bind_blob(5, bytes);
  if (r) r = stmt->run();
  if (!r) return sql_error(r.error());
  return {};
}

std::expected<std::size_t, WorldError> WorldDb::save_chunk_fluids_in(
    std::string_view domain, std::span<const std::pair<coords::ChunkPos, const FluidLayer*>> given) {
  // Layers whose stored row failed to load stay as stored.
  std::vector<std::pair<coords::ChunkPos, const FluidLayer*>> layers;
  layers.reserve(given.size());
  for (const auto& entry : given) {
    if (!fluid_kept(domain, entry.first)) layers.push_back(entry);
  }
  const std::size_t kept = given.size() - layers.size();
  // Encode everything first, so that a layer that cannot be stored leaves the table untouched.
  std::vector<std::optional<std::vector<std::uint8_t>>> encoded;
  encoded.reserve(layers.size());
  for (const auto& [pos, layer] : layers) {
    if (layer->empty()) {
      encoded.emplace_back();
      continue;
    }
    auto world = to_world_ids(pos, *layer);
    if (!world) return std::unexpected(world.error());
    encoded.emplace_back(fluid::codec::encode(*world));
  }

  if (auto r = db_.begin(); !r) return sql_error(r.error());
  auto fail = [&](const sqlite::SqliteError& e) {
    db_.rollback();
    return sql_error(e);
  };
  std::int64_t summaries_deleted = 0;
  {
    auto forget = db_.cached(kDeleteSummaries);
    if (!forget) return fail(forget.error());
    auto upsert = db_.cached(kUpsertFluid);
    if (!upsert) return fail(upsert.error());
    auto remove = db_.cached(kDeleteFluid);
    if (!remove) return fail(remove.error());
    for (std::size_t i = 0; i < layers.size(); ++i) {
      const coords::ChunkPos pos = layers[i].first;
      forget->reset();
      sqlite::Result<void> r = bind_chunk(*forget, domain, pos);
      if (r) r = forget->run();
      if (!r) return fail(r.error());
      summaries_deleted += db_.changes();
      sqlite::Statement& write = encoded[i] ? *upsert : *remove;
      write.reset();
      r = bind_chunk(write, domain, pos);
      if (r && encoded[i]) r = write.bind_blob(5, *encoded[i]);
      if (r) r = write.run();
      if (!r) return fail(r.error());
    }
  }
  if (auto r = db_.commit(); !r) return fail(r.error());
  note_summaries_deleted(summaries_deleted);
  return kept;
}

}  // namespace ostrel_core::persist

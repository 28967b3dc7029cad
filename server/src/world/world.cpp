#include "world/world.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <array>

#include "world/block.hpp"
#include "world/domain_store.hpp"
#include "world/lod.hpp"
#include "base/log.hpp"

namespace ostrel_server::world {
namespace {

namespace log = ostrel_core::log;
namespace block = ostrel_core::block;
namespace coords = ostrel_core::coords;
namespace edit = ostrel_core::proto::edit;
using ostrel_core::material::MaterialId;

constexpr std::uint32_t kFullMask = 0x7FF'FFFF;

block::Cells cells_at(const Chunk& chunk, coords::BlockPos pos) {
  auto view = chunk.get_block(pos);
  return view ? view->cells() : block::Cells{};
}

}  // namespace

std::string EditError::message() const {
  switch (kind) {
    case EditErrorKind::Unreachable:
      return fmt::format("could not reach the chunk holding {}", coords::debug_string(pos));
    case EditErrorKind::UnknownMaterial:
      return fmt::format("material id {} is not registered on this server", material);
    case EditErrorKind::Outside:
      return "position is outside the world";
    case EditErrorKind::StandIn:
      return "this chunk could not be generated; it cannot be changed until it is";
  }
  return {};
}

void Space::mark_dirty(ChunkPos pos) {
  if (!is_dirty(pos)) dirty.push_back(pos);
}

bool Space::is_dirty(ChunkPos pos) const { return std::find(dirty.begin(), dirty.end(), pos) != dirty.end(); }

const Chunk* Solid::resident(ChunkPos pos) const {
  if (!space_) return nullptr;
  auto it = space_->chunks.find(pos);
  return it == space_->chunks.end() ? nullptr : &it->second;
}

std::expected<World, WorldError> World::open(WorldDb db, std::uint64_t seed) {
  auto stored = db.read_meta_i64("world_seed");
  if (!stored) return std::unexpected(stored.error());
  if (*stored) return World(std::move(db), static_cast<std::uint64_t>(**stored));
  if (auto w = db.write_meta_i64("world_seed", static_cast<std::int64_t>(seed)); !w)
    return std::unexpected(w.error());
  return World(std::move(db), seed);
}

Space& World::space_of(std::string_view domain) {
  auto it = spaces_.find(domain);
  if (it == spaces_.end()) it = spaces_.emplace(std::string(domain), Space{}).first;
  return it->second;
}

const Chunk* World::resident(std::string_view domain, ChunkPos pos) const {
  return solid(domain).resident(pos);
}

Solid World::solid(std::string_view domain) const {
  auto it = spaces_.find(domain);
  return Solid(it == spaces_.end() ? nullptr : &it->second);
}

std::vector<std::string> World::resident_domains() const {
  std::vector<std::string> out;
  for (const auto& [id, space] : spaces_) out.push_back(id);
  return out;
}

std::vector<ChunkPos> World::resident_positions(std::string_view domain) const {
  std::vector<ChunkPos> out;
  auto it = spaces_.find(domain);
  if (it == spaces_.end()) return out;
  for (const auto& [pos, chunk] : it->second.chunks) out.push_back(pos);
  std::sort(out.begin(), out.end());
  return out;
}

std::expected<void, WorldError> World::refuse_sparse(std::string_view domain) const {
  if (sparse_.contains(domain)) return std::unexpected(WorldError::no_voxels(std::string(domain)));
  return {};
}

std::expected<Chunk*, WorldError> World::resident_or_stored(std::string_view domain, Space& space,
                                                            ChunkPos pos) {
  if (auto it = space.chunks.find(pos); it != space.chunks.end()) return &it->second;
  auto stored = sqlclock::timed(calls_, "load chunk", [&] { return db_.load_chunk_in(domain, pos); });
  if (!stored) return std::unexpected(stored.error());
  if (!*stored) return nullptr;
  Chunk& chunk = space.chunks.insert_or_assign(pos, std::move(**stored)).first->second;
  space.stand_ins.erase(pos);
  space.arrived.push_back(pos);
  return &chunk;
}

std::expected<bool, WorldError> World::load_stored(std::string_view domain, ChunkPos pos) {
  if (auto r = refuse_sparse(domain); !r) return std::unexpected(r.error());
  auto got = resident_or_stored(domain, space_of(domain), pos);
  if (!got) return std::unexpected(got.error());
  return *got != nullptr;
}

std::expected<Chunk*, WorldError> World::chunk(std::string_view domain, ChunkPos pos, ChunkSource& source) {
  if (auto r = refuse_sparse(domain); !r) return std::unexpected(r.error());
  Space& space = space_of(domain);
  auto got = resident_or_stored(domain, space, pos);
  if (!got) return std::unexpected(got.error());
  if (*got) return *got;
  return &adopt(domain, space, pos, source.generate_with_fluid(domain, pos, seed_));
}

Chunk& World::adopt(std::string_view domain, Space& space, ChunkPos pos, Generated generated) {
  if (generated.stand_in) {
    // Never stored: resident and clean, so an unload lets the next load generate it again.
    OSTREL_ERROR("ostrel_server::world",
                 "a chunk could not be generated; an unsaved air chunk stands in for it",
                 log::text("domain", domain), log::value("pos", pos));
    space.stand_ins.insert(pos);
  } else {
    space.stand_ins.erase(pos);
    space.mark_dirty(pos);
    if (!generated.fluid.empty()) {
      auto saved = sqlclock::timed(calls_, "store generated fluid",
                                   [&] { return db_.save_chunk_fluid_in(domain, pos, generated.fluid); });
      if (!saved) {
        OSTREL_ERROR("ostrel_server::world",
                     fmt::format("could not store generated fluid: {}", ostrel_core::report(saved.error())),
                     log::value("pos", pos));
      }
    }
  }
  Chunk& chunk = space.chunks.insert_or_assign(pos, std::move(generated.chunk)).first->second;
  space.arrived.push_back(pos);
  return chunk;
}

std::expected<std::optional<FluidLayer>, WorldError> World::load_fluid(std::string_view domain,
                                                                       ChunkPos pos) {
  return sqlclock::timed(calls_, "load fluid", [&] { return db_.load_chunk_fluid_in(domain, pos); });
}

std::expected<void, WorldError> World::adopt_generated(std::string_view domain, ChunkPos pos, Chunk chunk,
                                                       const FluidLayer& fluid, bool stand_in) {
  if (auto r = refuse_sparse(domain); !r) return r;
  Space& space = space_of(domain);
  if (space.chunks.contains(pos) && (stand_in || !space.is_stand_in(pos))) return {};
  adopt(domain, space, pos, Generated{std::move(chunk), fluid, stand_in});
  return {};
}

bool World::is_stand_in(std::string_view domain, ChunkPos pos) const {
  auto it = spaces_.find(domain);
  return it != spaces_.end() && it->second.is_stand_in(pos);
}

std::expected<block::Cells, WorldError> World::block_cells(std::string_view domain, coords::BlockPos pos,
                                                           ChunkSource& source) {
  auto got = chunk(domain, pos.chunk(), source);
  if (!got) return std::unexpected(got.error());
  return cells_at(**got, pos);
}

std::expected<Applied, EditError> World::apply(std::string_view domain, const ostrel_core::proto::Edit& e,
                                               ChunkSource& source) {
  const std::uint16_t material = std::visit([](const auto& v) { return v.material; }, e);
  if (!db_.materials().to_world(material)) {
    return std::unexpected(EditError{EditErrorKind::UnknownMaterial, {}, material, nullptr});
  }
  const coords::BlockPos block_pos = std::visit(
      [](const auto& v) -> coords::BlockPos {
        if constexpr (std::is_same_v<std::decay_t<decltype(v)>, edit::Cell>) {
          return v.pos.block();
        } else {
          return v.pos;
        }
      },
      e);
  const ChunkPos cpos =
      std::holds_alternative<edit::Cell>(e) ? std::get<edit::Cell>(e).pos.chunk() : block_pos.chunk();

  auto got = chunk(domain, cpos, source);
  if (!got) {
    return std::unexpected(
        EditError{EditErrorKind::Unreachable, cpos, 0, ostrel_core::make_source(got.error())});
  }
  Space& space = space_of(domain);
  if (space.is_stand_in(cpos)) return std::unexpected(EditError{EditErrorKind::StandIn, cpos, 0, nullptr});
  Chunk& c = **got;
  if (c.position() != cpos) return std::unexpected(EditError{});
  const block::Cells before = cells_at(c, block_pos);

  if (const auto* set = std::get_if<edit::Set>(&e)) {
    c.set_block_local(block_pos.local(), block::BlockValue::whole(set->material));
  } else if (const auto* part = std::get_if<edit::Partial>(&e)) {
    const auto value = part->mask == kFullMask ? block::BlockValue::whole(part->material)
                                               : block::BlockValue::partial(part->material, part->mask);
    c.set_block_local(block_pos.local(), value);
  } else {
    const auto& cell = std::get<edit::Cell>(e);
    if (!c.set_subnode(cell.pos, cell.material)) return std::unexpected(EditError{});
  }

  const block::Cells after = cells_at(c, block_pos);
  Applied out{cpos, ostrel_core::inventory::removed_units(block::BlockValue::mixed(before),
                                                          block::BlockValue::mixed(after))};
  space.mark_dirty(cpos);
  return out;
}

std::expected<Chain, WorldError> World::encode_chain(const Chunk& chunk, const FluidLayer& fluid,
                                                     const ostrel_core::fluid::Fluids& fluids,
                                                     const ostrel_core::persist::idmap::MaterialMap& map) {
  auto summaries = ostrel_core::lod::Summary::chain_wet(chunk, fluid, fluids);
  Chain out;
  out.reserve(summaries.size());
  for (auto& s : summaries) {
    if (!map.identity) {
      for (MaterialId& cell : s.cells()) cell = map.to_world(cell).value_or(ostrel_core::material::kUnknown);
    }
    auto bytes = ostrel_core::lod::codec::encode(s);
    if (!bytes) {
      return std::unexpected(
          WorldError::chunk(chunk.position(), {}, ostrel_core::make_source(bytes.error())));
    }
    out.emplace_back(s.level(), std::move(*bytes));
  }
  return out;
}

std::expected<std::optional<std::vector<std::uint8_t>>, WorldError> World::summary_stored(
    std::string_view domain, std::uint8_t level, ChunkPos pos) {
  if (level < kMinLevel || level > kMaxLevel) return std::unexpected(WorldError::no_such_level(level));
  if (auto r = refuse_sparse(domain); !r) return std::unexpected(r.error());
  auto space = spaces_.find(domain);
  const bool dirty = space != spaces_.end() && space->second.is_dirty(pos);
  if (!dirty) {
    auto stored =
        sqlclock::timed(calls_, "load summary", [&] { return db_.load_summary(domain, level, pos); });
    if (!stored) return std::unexpected(stored.error());
    if (*stored) return std::move(*stored);
  }
  // Nothing is built from a stand-in: it answers as a chunk that was never stored.
  if (is_stand_in(domain, pos)) return std::nullopt;
  auto fluid = load_fluid(domain, pos);
  if (!fluid) return std::unexpected(fluid.error());
  const FluidLayer layer = fluid->value_or(FluidLayer{});
  std::expected<Chain, WorldError> chain;
  if (const Chunk* c = resident(domain, pos)) {
    chain = encode_chain(*c, layer, fluids_, db_.materials());
  } else {
    auto stored = sqlclock::timed(calls_, "load chunk", [&] { return db_.load_chunk_in(domain, pos); });
    if (!stored) return std::unexpected(stored.error());
    if (!*stored) return std::nullopt;
    chain = encode_chain(**stored, layer, fluids_, db_.materials());
  }
  if (!chain) return std::unexpected(chain.error());
  auto bytes = adopt_summaries(domain, level, pos, *chain);
  if (!bytes) return std::unexpected(bytes.error());
  return std::move(*bytes);
}

std::expected<std::vector<std::uint8_t>, WorldError> World::summary(std::string_view domain,
                                                                    std::uint8_t level, ChunkPos pos,
                                                                    ChunkSource& source) {
  auto stored = summary_stored(domain, level, pos);
  if (!stored) return std::unexpected(stored.error());
  if (*stored) return std::move(**stored);
  Generated g = source.generate_with_fluid(domain, pos, seed_);
  auto chain = encode_chain(g.chunk, g.fluid, fluids_, db_.materials());
  if (!chain) return std::unexpected(chain.error());
  if (g.stand_in) {
    // A stand-in's summary is answered but never stored.
    for (auto& [l, bytes] : *chain) {
      if (l == level) return std::move(bytes);
    }
    return std::unexpected(WorldError::no_such_level(level));
  }
  return adopt_summaries(domain, level, pos, *chain);
}

std::expected<std::vector<std::uint8_t>, WorldError> World::adopt_summaries(std::string_view domain,
                                                                            std::uint8_t level, ChunkPos pos,
                                                                            const Chain& chain) {
  auto it = std::find_if(chain.begin(), chain.end(), [&](const auto& e) { return e.first == level; });
  if (it == chain.end()) return std::unexpected(WorldError::no_such_level(level));
  std::vector<std::uint8_t> out = it->second;
  auto space = spaces_.find(domain);
  if (space != spaces_.end() && (space->second.is_dirty(pos) || space->second.is_stand_in(pos))) return out;
  auto saved =
      sqlclock::timed(calls_, "save summaries", [&] { return db_.save_summaries(domain, pos, chain); });
  if (!saved) return std::unexpected(saved.error());
  return out;
}

bool World::unload(std::string_view domain, ChunkPos pos) {
  auto it = spaces_.find(domain);
  if (it == spaces_.end()) return false;
  Space& space = it->second;
  if (space.is_dirty(pos) || space.chunks.erase(pos) == 0) return false;
  space.stand_ins.erase(pos);
  std::erase(space.arrived, pos);
  return true;
}

std::expected<void, WorldError> World::forget_domain(std::string_view domain) {
  auto removed = sqlclock::timed(calls_, "remove domain",
                                 [&] { return ostrel_core::domain_store::remove_domain(db_, domain); });
  if (!removed) return removed;
  if (auto it = spaces_.find(domain); it != spaces_.end()) spaces_.erase(it);
  return {};
}

std::vector<ChunkPos> World::take_arrived(std::string_view domain) {
  auto it = spaces_.find(domain);
  if (it == spaces_.end()) return {};
  return std::exchange(it->second.arrived, {});
}

}  // namespace ostrel_server::world

#include "fluid/fluidics.hpp"

#include <array>

#include "fluid/solid_chunks.hpp"
#include "fluid/step.hpp"

namespace ostrel_server::fluid {
namespace {

using ostrel_core::coords::LocalPos;
using ostrel_core::fluid::solver::Tuning;
namespace solver = ostrel_core::fluid::solver;

const std::shared_ptr<const AbsorbTable>& no_absorbs() {
  static const auto kNone = std::make_shared<const AbsorbTable>();
  return kNone;
}
const std::shared_ptr<const Materials>& no_materials() {
  static const auto kNone = std::make_shared<const Materials>();
  return kNone;
}

Tunings tunings_of(const Fluids& fluids) {
  Tunings t;  // default tuning in every slot, none enabled
  const auto records = fluids.registered();
  for (std::size_t i = 0; i < records.size() && i + 1 < solver::kSlots; ++i) {
    const auto id = static_cast<FluidId>(i + 1);
    if (fluids.is_placeholder(id)) continue;
    const auto& r = records[i];
    t.slots[id] = Tuning{r.waterlogs_at, r.evaporates, r.tick_rate, r.washes};
    t.enabled[id] = true;
  }
  return t;
}

bool any_falloff_of(const Fluids& fluids) {
  const auto records = fluids.registered();
  for (std::size_t i = 0; i < records.size(); ++i) {
    if (records[i].light_falloff != 0 && !fluids.is_placeholder(static_cast<FluidId>(i + 1))) return true;
  }
  return false;
}

// Whether a woken block would do anything on its own: the rules that let a level body of
// touching full blocks sleep when its chunk loads.
class Settling {
 public:
  Settling(Wet& wet, const Tunings& tunings) : wet_(wet), tunings_(tunings) {}

  bool settled(BlockPos p) { return in_body(p) || !restless(p); }

 private:
  static std::array<BlockPos, 6> faces(BlockPos p) {
    return {solver::step(p, -1, 0, 0), solver::step(p, 1, 0, 0),  solver::step(p, 0, -1, 0),
            solver::step(p, 0, 1, 0),  solver::step(p, 0, 0, -1), solver::step(p, 0, 0, 1)};
  }

  // Resident, wet, not floor for its own fluid, and filled to its room.
  bool full(BlockPos q) {
    const auto occ = wet_.occupancy(q);
    if (!occ) return false;
    const Fluid s = wet_.fluid(q);
    if (!s.is_wet()) return false;
    const std::uint32_t r = solver::room(*occ, tunings_.of(s.id()).waterlogs_at);
    return r != 0 && s.level() >= r;
  }

  bool in_body(BlockPos p) {
    if (!full(p)) return false;
    std::size_t count = 0;
    BlockPos only{};
    for (const BlockPos& q : faces(p)) {
      if (q == p || !full(q)) continue;
      ++count;
      only = q;
    }
    if (count >= 2) return true;
    if (count == 0) return false;
    for (const BlockPos& q : faces(only)) {
      if (q != only && q != p && full(q)) return true;
    }
    return false;
  }

  // Resident, holding `f` or nothing, with space at `waterlogs_at`.
  bool takes(BlockPos q, FluidId f, std::uint32_t waterlogs_at) {
    return solver::space_for(wet_, q, f, waterlogs_at) > 0;
  }

  bool restless(BlockPos p) {
    const auto occ = wet_.occupancy(p);
    const Fluid s = wet_.fluid(p);
    const Tuning& t = tunings_.of(s.id());
    const std::uint32_t l = s.level();
    if (!occ || l > solver::room(*occ, t.waterlogs_at)) return true;
    const BlockPos down = solver::below(p);
    if (down != p && takes(down, s.id(), t.waterlogs_at)) return true;
    for (const BlockPos& q : solver::beside(p)) {
      if (q != p && wet_.fluid(q).level() + 2u <= l && takes(q, s.id(), t.waterlogs_at)) return true;
    }
    if (l == 1 || l == 2) {
      for (const BlockPos& q : solver::beside(p)) {
        if (q == p) continue;
        const auto qo = wet_.occupancy(q);
        if (!qo || wet_.fluid(q).is_wet() || solver::room(*qo, t.waterlogs_at) < l) continue;
        const BlockPos under = solver::below(q);
        if (under != q && takes(under, s.id(), t.waterlogs_at)) return true;
      }
    }
    if (down != p && wet_.absorbency(down, s.id()) != 0) return true;
    for (const BlockPos& q : solver::beside(p)) {
      if (q != p && wet_.absorbency(q, s.id()) != 0) return true;
    }
    if (t.evaporates != 0) {
      const BlockPos up = solver::above(p);
      const auto uo = wet_.occupancy(up);
      if (up != p && uo && *uo == 0 && !wet_.fluid(up).is_wet()) return true;
    }
    return false;
  }

  Wet& wet_;
  const Tunings& tunings_;
};

// Every block one wet state of level 27, over a chunk that is all air.
bool sea_over_air(const FluidLayer& layer, const ostrel_core::chunk::Chunk* chunk) {
  if (layer.wet() != ostrel_core::fluid::layer::kBlocks || !chunk || chunk->live_count() != 1) return false;
  const Fluid first = layer.get(0);
  if (first.level() != ostrel_core::fluid::kFullLevel) return false;
  for (const Fluid s : layer.states()) {
    if (s != first) return false;
  }
  for (const auto& e : chunk->palette()) {
    if (e.refs == 0) continue;
    return e.kind() == ostrel_core::block::Kind::Whole && e.material() == ostrel_core::material::kAir;
  }
  return false;
}

}  // namespace

Fluidics::Fluidics()
    : tunings_(Tunings::uniform(Tuning{})),
      absorbs_(no_absorbs()),
      passable_(no_materials()),
      washes_away_(no_materials()) {}

Fluidics::Fluidics(Fluids fluids)
    : fluids_(std::move(fluids)),
      tunings_(tunings_of(fluids_)),
      absorbs_(no_absorbs()),
      passable_(no_materials()),
      washes_away_(no_materials()),
      any_falloff_(any_falloff_of(fluids_)) {}

Wet Fluidics::wet(const Resident& solid) { return Wet(layers_, *absorbs_, *passable_, *washes_away_, solid); }

Fluid Fluidics::at(BlockPos pos) const {
  const FluidLayer* l = layer(pos.chunk());
  return l ? l->get(pos.local_index()) : Fluid{};
}

const FluidLayer* Fluidics::layer(ChunkPos pos) const {
  auto it = layers_.find(pos);
  return it == layers_.end() ? nullptr : &it->second;
}

void Fluidics::note_written(BlockPos pos) {
  const ChunkPos c = pos.chunk();
  dirty_.insert(c);
  if (!loaded_.contains(c)) poured_[c].set(pos.local_index());
}

bool Fluidics::set(BlockPos pos, Fluid state) {
  solver_.touch(pos);
  const ChunkPos c = pos.chunk();
  auto it = layers_.find(c);
  if (it == layers_.end() && !state.is_wet()) return false;
  const Fluid old = it == layers_.end() ? Fluid{} : it->second.get(pos.local_index());
  if (it == layers_.end()) it = layers_.emplace(c, FluidLayer{}).first;
  const LocalPos local = pos.local();
  const bool changed = it->second.set(local.x, local.y, local.z, state);
  if (it->second.empty()) layers_.erase(it);
  if (!changed) return false;
  note_written(pos);
  pending_.push_back({pos, old, state.is_wet() ? state : Fluid{}});
  return true;
}

FluidLayer Fluidics::lay_pour_over(ChunkPos pos, FluidLayer stored) {
  auto poured = poured_.find(pos);
  const FluidLayer* written = layer(pos);
  for (std::size_t i = 0; i < ostrel_core::fluid::layer::kBlocks; ++i) {
    if (!poured->second.test(i)) continue;
    const auto local = LocalPos::from_index(static_cast<std::uint16_t>(i));
    stored.set(local.x, local.y, local.z, written ? written->get(i) : Fluid{});
  }
  poured_.erase(poured);
  layers_.erase(pos);
  return stored;
}

void Fluidics::chunk_loaded(ChunkPos pos, FluidLayer layer, const Resident& solid) {
  // A chunk taken in already whose fluid changed since its save holds newer fluid than any
  // stored layer: keep it, so the change still reaches the save.
  if (loaded_.contains(pos) && dirty_.contains(pos)) return;
  loaded_.insert(pos);
  if (poured_.contains(pos))
    layer = lay_pour_over(pos, std::move(layer));  // stays dirty: it differs from the store
  if (layer.empty()) return;
  // A chunk past the block range has no block a step could reach: its fluid only waits.
  const bool asleep = !pos.addressable() || sea_over_air(layer, solid.resident(pos));
  layers_.insert_or_assign(pos, std::move(layer));
  if (!asleep) schedule_unsettled(pos, solid);
}

void Fluidics::schedule_unsettled(ChunkPos pos, const Resident& solid) {
  Wet w = wet(solid);
  Settling settling(w, tunings_);
  const auto states = layers_.at(pos).states();
  for (std::size_t i = 0; i < states.size(); ++i) {
    if (!states[i].is_wet()) continue;
    const BlockPos p = pos.block(LocalPos::from_index(static_cast<std::uint16_t>(i)));
    if (!settling.settled(p)) solver_.wake(p);
  }
}

std::vector<Flow> Fluidics::tick(const Resident& solid, std::uint64_t step, std::uint64_t seed) {
  std::vector<Flow> flows = std::exchange(pending_, {});
  const std::size_t mark = flows.size();
  Wet w = wet(solid);
  ostrel_core::fluid::step::advance(solver_, tunings_, w, step, seed, flows);
  for (std::size_t i = mark; i < flows.size(); ++i) note_written(flows[i].pos);
  return flows;
}

std::set<ChunkPos> Fluidics::touched_chunks(std::span<const Flow> flows) {
  std::set<ChunkPos> out;
  for (const Flow& f : flows) out.insert(f.pos.chunk());
  return out;
}

std::vector<std::pair<ChunkPos, FluidLayer>> Fluidics::take_dirty() {
  std::vector<std::pair<ChunkPos, FluidLayer>> out;
  for (auto it = dirty_.begin(); it != dirty_.end();) {
    if (poured_.contains(*it)) {
      ++it;
      continue;
    }
    const FluidLayer* l = layer(*it);
    out.emplace_back(*it, l ? *l : FluidLayer{});
    it = dirty_.erase(it);
  }
  return out;
}

std::vector<ChunkPos> Fluidics::poured_into_unloaded() const {
  std::vector<ChunkPos> out;
  out.reserve(poured_.size());
  for (const auto& [pos, unused] : poured_) out.push_back(pos);
  return out;
}

bool Fluidics::forget(ChunkPos pos) {
  if (dirty_.contains(pos)) return false;
  layers_.erase(pos);
  loaded_.erase(pos);
  return true;
}

std::optional<MaterialId> Fluidics::material(FluidId id) const {
  const auto* r = fluids_.get(id);
  if (!r) return std::nullopt;
  return fluids_.is_placeholder(id) ? ostrel_core::material::kAir : r->material;
}

std::uint8_t Fluidics::falloff(FluidId id) const {
  const auto* r = fluids_.get(id);
  return r ? r->light_falloff : 0;
}

// The world overloads, for the tick.
void Fluidics::chunk_loaded(ChunkPos pos, FluidLayer layer, std::string_view domain,
                            const world::World& world) {
  chunk_loaded(pos, std::move(layer), SolidChunks(world, domain));
}

std::vector<Flow> Fluidics::tick(std::string_view domain, const world::World& world, std::uint64_t step,
                                 std::uint64_t seed) {
  return tick(SolidChunks(world, domain), step, seed);
}

}  // namespace ostrel_server::fluid

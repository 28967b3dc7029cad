#include "fluid/wet.hpp"

#include <algorithm>

namespace ostrel_server::fluid {
namespace {

using ostrel_core::block::Kind;
using ostrel_core::coords::LocalPos;

bool listed(const Materials& list, MaterialId m) { return std::binary_search(list.begin(), list.end(), m); }

}  // namespace

const ostrel_core::chunk::Chunk* Wet::chunk(ChunkPos pos) {
  if (chunk_at_ != pos) {
    chunk_ = solid_.resident(pos);
    chunk_at_ = pos;
  }
  return chunk_;
}

FluidLayer* Wet::layer(ChunkPos pos) {
  if (layer_at_ != pos) {
    auto it = layers_.find(pos);
    layer_ = it == layers_.end() ? nullptr : &it->second;
    layer_at_ = pos;
  }
  return layer_;
}

bool Wet::is_passable(MaterialId m) const { return listed(passable_, m); }

std::uint32_t Wet::absorbency(BlockPos pos, FluidId fluid) {
  if (absorbs_.empty()) return 0;
  const auto* c = chunk(pos.chunk());
  if (!c) return 0;
  const auto block = c->get_block_local(pos.local());
  if (block.kind() == Kind::Mixed || block.material() >= absorbs_.size()) return 0;
  const auto& rule = absorbs_[block.material()];
  if (!rule || (rule->fluid && (*rule->fluid == 0 || *rule->fluid != fluid))) return 0;  // 0: a fluid nobody registered
  return rule->rate;
}

bool Wet::washes_away(BlockPos pos) {
  if (washes_away_.empty()) return false;
  const auto* c = chunk(pos.chunk());
  if (!c) return false;
  const auto block = c->get_block_local(pos.local());
  switch (block.kind()) {
    case Kind::Whole:
      return block.material() != ostrel_core::material::kAir && listed(washes_away_, block.material());
    case Kind::Partial:
      return (block.mask() & ostrel_core::block::kOccupancyFull) != 0 && listed(washes_away_, block.material());
    case Kind::Mixed: {
      bool any = false;
      for (MaterialId m : block.mixed_cells()) {
        if (m == ostrel_core::material::kAir) continue;
        if (!listed(washes_away_, m)) return false;
        any = true;
      }
      return any;
    }
  }
  return false;
}

Fluid Wet::fluid(BlockPos pos) {
  const FluidLayer* l = layer(pos.chunk());
  return l ? l->get(pos.local_index()) : Fluid{};
}

std::optional<std::uint32_t> Wet::occupancy(BlockPos pos) {
  const auto* c = chunk(pos.chunk());
  if (!c) return std::nullopt;
  const auto block = c->get_block_local(pos.local());
  if (passable_.empty()) return block.filled_cells();
  switch (block.kind()) {
    case Kind::Whole:
    case Kind::Partial:
      return is_passable(block.material()) ? 0 : block.filled_cells();
    case Kind::Mixed: {
      std::uint32_t n = 0;
      for (MaterialId m : block.mixed_cells()) {
        if (m != ostrel_core::material::kAir && !is_passable(m)) ++n;
      }
      return n;
    }
  }
  return 0;
}

bool Wet::set_fluid(BlockPos pos, Fluid state) {
  const ChunkPos c = pos.chunk();
  FluidLayer* l = layer(c);
  if (!l) {
    if (!state.is_wet()) return false;
    l = &layers_[c];
    layer_ = l;
  }
  const LocalPos local = pos.local();
  const bool changed = l->set(local.x, local.y, local.z, state);
  if (l->empty()) {
    layers_.erase(c);
    layer_ = nullptr;
  }
  return changed;
}

}  // namespace ostrel_server::fluid

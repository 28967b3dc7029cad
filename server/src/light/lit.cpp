#include "light/lit.hpp"

#include <algorithm>

#include "light/propagate.hpp"

namespace ostrel_server::light {
namespace {

using ostrel_core::block::Kind;
using ostrel_core::chunk::Chunk;
using ostrel_core::chunk::PaletteEntry;
using ostrel_core::fluid::kMaxFluids;
using ostrel_core::light::propagate::brighter;

}  // namespace

Lit::Lit(LightLayers& layers, const Tables& tables, ChunkPos relit, const Resident& solid,
         const Glowing& fluid, Touched& touched)
    : layers_(layers),
      tables_(tables),
      relit_(relit),
      solid_(solid),
      fluid_(fluid),
      touched_(touched),
      any_fluid_falloff_(fluid.any_falloff()),
      relit_chunk_(solid.resident(relit)) {
  node_ = layers_.extract(relit);
}

Lit::~Lit() {
  if (node_) layers_.insert(std::move(node_));
}

const FluidLayer* Lit::fluid_of(ChunkPos c) {
  if (fluid_at_ != c) {
    fluid_layer_ = fluid_.layer(c);
    fluid_at_ = c;
  }
  return fluid_layer_;
}

std::uint8_t Lit::dimming(BlockPos pos) {
  std::uint8_t f = 0;
  if (any_fluid_falloff_) {
    const FluidLayer* fl = fluid_of(pos.chunk());
    if (fl && !fl->empty()) {
      const auto s = fl->get(pos.local_index());
      if (s.is_wet()) f = fluid_.falloff(s.id());
    }
  }
  if (tables_.any_falloff) {
    const PaletteEntry* e = entry_at(pos);
    if (e && e->kind() == Kind::Whole) f = std::max(f, tables_.falloff_of(e->material()));
  }
  return f;
}

std::uint16_t Lit::material_emission(const PaletteEntry& e, const Chunk& c) const {
  if (e.kind() != Kind::Mixed) return tables_.emission_of(e.material());
  std::uint16_t out = 0;
  for (MaterialId m : c.mixed().cells(e.mixed_slot())) out = brighter(out, tables_.emission_of(m));
  return out;
}

std::uint16_t Lit::emission(BlockPos pos) {
  const Chunk* c = chunk_of(pos.chunk());
  if (!c) return 0;
  const PaletteEntry& e = c->palette()[c->indices().get(pos.local_index())];
  std::uint16_t out = material_emission(e, *c);
  if (!tables_.any_emits) return out;
  const FluidLayer* fl = fluid_of(pos.chunk());
  if (fl && !fl->empty()) {
    const auto s = fl->get(pos.local_index());
    if (s.is_wet()) {
      if (const auto m = fluid_.material(s.id())) out = brighter(out, tables_.emission_of(*m));
    }
  }
  return out;
}

void Lit::cache_relit_faces() {
  if (!relit_chunk_) return;
  const auto palette = relit_chunk_->palette();
  std::vector<std::uint8_t> by_slot(palette.size());
  for (std::size_t slot = 0; slot < palette.size(); ++slot) {
    const PaletteEntry& e = palette[slot];
    by_slot[slot] = tables_.any_passes && e.kind() == Kind::Whole && tables_.passes_of(e.material())
                        ? ostrel_core::light::kOpen
                        : e.permeability;
  }
  relit_faces_.resize(ostrel_core::light::layer::kBlocks);
  const auto& indices = relit_chunk_->indices();
  for (std::size_t i = 0; i < relit_faces_.size(); ++i) relit_faces_[i] = by_slot[indices.get(i)];
}

bool Lit::may_emit(ChunkPos c) {
  if (!tables_.any_emits) return false;
  const Chunk* chunk = chunk_of(c);
  if (!chunk) return false;
  for (const PaletteEntry& e : chunk->palette()) {
    if (e.refs != 0 && material_emission(e, *chunk) != 0) return true;
  }
  const FluidLayer* fl = fluid_of(c);
  if (!fl || fl->empty()) return false;
  for (std::size_t id = 1; id <= kMaxFluids; ++id) {
    const auto m = fluid_.material(static_cast<FluidId>(id));
    if (m && tables_.emission_of(*m) != 0) return true;
  }
  return false;
}

}  // namespace ostrel_server::light

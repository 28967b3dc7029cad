#pragma once
// Lit: one domain's lighting while one chunk is relit, as the propagation algorithms see it.
// The relit chunk's layer is taken out of the domain's map for the relight, so writes into it
// need no lookup, and goes back when the Lit ends. Chunks whose light is written are added to
// the caller's Touched set. A chunk without a layer is never written; a chunk that is not
// resident never passes light.

#include <cstdint>
#include <optional>
#include <set>
#include <unordered_map>
#include <vector>

#include "light/glowing.hpp"
#include "light/layer.hpp"
#include "light/permeability.hpp"
#include "light/tables.hpp"
#include "movement/phys/voxels.hpp"
#include "world/chunk.hpp"
#include "world/coords.hpp"

namespace ostrel_server::light {

using ostrel_core::coords::BlockPos;
using ostrel_core::light::layer::LightLayer;
using ostrel_core::phys::voxels::Resident;

using Touched = std::set<ChunkPos>;
using LightLayers = std::unordered_map<ChunkPos, LightLayer>;

class Lit {
 public:
  Lit(LightLayers& layers, const Tables& tables, ChunkPos relit, const Resident& solid, const Glowing& fluid,
      Touched& touched);
  ~Lit();  // puts the relit chunk's layer back
  Lit(const Lit&) = delete;
  Lit& operator=(const Lit&) = delete;

  // --- what propagation asks; the hot paths are inline ---
  std::uint16_t light(BlockPos pos) {
    const LightLayer* l = layer_of(pos.chunk());
    return l ? l->at(pos.local_index()) : 0;
  }
  // The block's face bits; 0x3F for a whole block of a material that passes light; none when
  // its chunk is not resident.
  std::optional<std::uint8_t> faces(BlockPos pos) {
    if (!relit_faces_.empty() && pos.chunk() == relit_) return relit_faces_[pos.local_index()];
    const ostrel_core::chunk::PaletteEntry* e = entry_at(pos);
    if (!e) return std::nullopt;
    if (tables_.any_passes && e->kind() == ostrel_core::block::Kind::Whole && tables_.passes_of(e->material())) {
      return ostrel_core::light::kOpen;
    }
    return e->permeability;
  }
  // The larger of its fluid's and (for a whole block) its material's falloff.
  std::uint8_t falloff(BlockPos pos) { return any_fluid_falloff_ || tables_.any_falloff ? dimming(pos) : 0; }
  // Its material's light (mixed: the largest per channel among its cells), raised by the light
  // of the block its fluid is drawn as.
  std::uint16_t emission(BlockPos pos);
  void set_light(BlockPos pos, std::uint16_t value) {
    const ChunkPos c = pos.chunk();
    LightLayer* l = layer_of(c);
    if (!l) return;
    const std::uint16_t i = pos.local_index();
    if (l->at(i) == value) return;
    l->set_at(i, value);
    if (!last_touched_ || *last_touched_ != c) {
      touched_.insert(c);
      last_touched_ = c;
    }
  }

  // --- for the relight steps ---
  const ostrel_core::chunk::Chunk* relit_chunk() const { return relit_chunk_; }
  // The relit chunk's layer, or null when it has none.
  LightLayer* relit_layer() { return node_ ? &node_.mapped() : nullptr; }
  // Whether some block of the chunk may give off light; false when it is not resident.
  bool may_emit(ChunkPos c);
  // Reads the relit chunk's face bits once, for a relight that visits every block of it.
  void cache_relit_faces();

 private:
  const ostrel_core::chunk::Chunk* chunk_of(ChunkPos c) {
    if (c == relit_) return relit_chunk_;
    if (!chunk_cached_ || chunk_at_ != c) {
      chunk_ = solid_.resident(c);
      chunk_at_ = c;
      chunk_cached_ = true;
    }
    return chunk_;
  }
  LightLayer* layer_of(ChunkPos c) {
    if (c == relit_) return relit_layer();
    if (!layer_cached_ || layer_at_ != c) {
      auto it = layers_.find(c);
      layer_ = it == layers_.end() ? nullptr : &it->second;
      layer_at_ = c;
      layer_cached_ = true;
    }
    return layer_;
  }
  const ostrel_core::chunk::PaletteEntry* entry_at(BlockPos pos) {
    const ostrel_core::chunk::Chunk* c = chunk_of(pos.chunk());
    return c ? &c->palette()[c->indices().get(pos.local_index())] : nullptr;
  }
  std::uint8_t dimming(BlockPos pos);
  const FluidLayer* fluid_of(ChunkPos c);
  std::uint16_t material_emission(const ostrel_core::chunk::PaletteEntry& e, const ostrel_core::chunk::Chunk& c) const;

  LightLayers& layers_;
  const Tables& tables_;
  const ChunkPos relit_;
  const Resident& solid_;
  const Glowing& fluid_;
  Touched& touched_;
  const bool any_fluid_falloff_;  // asked of the fluid side once
  LightLayers::node_type node_;   // the relit chunk's layer while it is out of the map
  const ostrel_core::chunk::Chunk* relit_chunk_;
  std::vector<std::uint8_t> relit_faces_;  // by local index, once cached; empty otherwise

  // The last other chunk, light layer and fluid layer looked up (null: none there), and the
  // last chunk added to the touched set.
  bool chunk_cached_ = false;
  ChunkPos chunk_at_;
  const ostrel_core::chunk::Chunk* chunk_ = nullptr;
  bool layer_cached_ = false;
  ChunkPos layer_at_;
  LightLayer* layer_ = nullptr;
  std::optional<ChunkPos> fluid_at_;
  const FluidLayer* fluid_layer_ = nullptr;
  std::optional<ChunkPos> last_touched_;
};

}  // namespace ostrel_server::light

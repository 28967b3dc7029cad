#pragma once
// Lighting: the light of one domain's chunks. A chunk is lit from 0 when it loads (sky falls in
// where nothing is above it, emitters shine, light comes in from lit neighbours, and the sky
// over the chunk below is cut when this one roofs it) and relit around a block when the block
// or its fluid changes. Each relight answers the chunks whose light changed. Light is never
// stored: an unloaded chunk's layer is dropped (`forget`) and the chunk is lit afresh on its
// next load.

#include <cstdint>
#include <memory>
#include <string_view>

#include "light/glowing.hpp"
#include "light/lit.hpp"
#include "light/tables.hpp"

namespace ostrel_server::world { class World; }

namespace ostrel_server::light {

class Lighting {
 public:
  // `tables` is shared read-only by every domain.
  explicit Lighting(std::shared_ptr<const Tables> tables) : tables_(std::move(tables)) {}

  // The block's light value; 0 where its chunk has no layer.
  std::uint16_t at(BlockPos pos) const;
  // Full layers of the set whose 4096 values are equal become Uniform.
  void compact(const Touched& chunks);

  // Lights a chunk that became resident and the chunks it changes. A chunk of one opaque dark
  // material takes the solid shortcut: it is left at Uniform 0 and only the sky of the chunk
  // below is cut.
  Touched chunk_loaded_with_fluid(ChunkPos pos, const Resident& solid, const Glowing& fluid);
  Touched chunk_loaded_with_fluid(std::string_view domain, const world::World& world, ChunkPos pos,
                                  const Glowing& fluid);
  // Relights around a block whose content or fluid changed.
  Touched edited_with_fluid(BlockPos pos, const Resident& solid, const Glowing& fluid);
  Touched edited_with_fluid(std::string_view domain, const world::World& world, BlockPos pos,
                            const Glowing& fluid);
  // Cuts the sky of the top row of the chunk below `pos` where `pos` roofs it; adds the changed
  // chunks to `touched`.
  void roof_over_below(ChunkPos pos, const Resident& solid, Touched& touched, const Glowing& fluid);

  // Drops an unloaded chunk's layer; false when it had none.
  bool forget(ChunkPos pos) { return layers_.erase(pos) != 0; }

  const LightLayer* layer(ChunkPos pos) const;
  const LightLayers& layers() const { return layers_; }
  // Loaded chunks lit by the solid shortcut.
  std::uint64_t skipped_solid() const { return skipped_solid_; }
  const Tables& tables() const { return *tables_; }

 private:
  // The shortcut applies: one live palette entry, a whole block of a material other than air
  // that neither passes light nor emits.
  bool solid_dark(const ostrel_core::chunk::Chunk* chunk) const;

  std::shared_ptr<const Tables> tables_;
  LightLayers layers_;
  std::uint64_t skipped_solid_ = 0;
};

}  // namespace ostrel_server::light

#pragma once
// Wet: one domain's fluid layers and resident chunks as the fluid step reads and writes them,
// built for one step (or one chunk load). Writes go straight into the layers; nothing is marked
// for saving and nothing is woken here.

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "fluid/layer.hpp"
#include "fluid/solver.hpp"
#include "movement/phys/voxels.hpp"
#include "world/chunk.hpp"
#include "world/coords.hpp"

namespace ostrel_server::fluid {

using ostrel_core::coords::BlockPos;
using ostrel_core::coords::ChunkPos;
using ostrel_core::fluid::Fluid;
using ostrel_core::fluid::FluidId;
using ostrel_core::fluid::layer::FluidLayer;
using ostrel_core::fluid::solver::AbsorbTable;
using ostrel_core::material::MaterialId;
using ostrel_core::phys::voxels::Resident;

// A domain's fluid by chunk; a chunk without an entry is dry and no entry is Empty.
using Layers = std::unordered_map<ChunkPos, FluidLayer>;
// Ascending material ids (duplicates allowed), searched by binary search.
using Materials = std::vector<MaterialId>;

class Wet final : public ostrel_core::fluid::solver::Neighbourhood {
 public:
  // Borrows everything for its own lifetime.
  Wet(Layers& layers, const AbsorbTable& absorbs, const Materials& passable, const Materials& washes_away,
      const Resident& solid)
      : layers_(layers), absorbs_(absorbs), passable_(passable), washes_away_(washes_away), solid_(solid) {}
  Wet(const Wet&) = delete;
  Wet& operator=(const Wet&) = delete;

  // 0 when no material has a rule, the chunk is away, the block is mixed, its material has no
  // rule, or the rule names another fluid.
  std::uint32_t absorbency(BlockPos pos, FluidId fluid) override;
  // At least one filled cell, and every filled cell's material is on the list.
  bool washes_away(BlockPos pos) override;
  Fluid fluid(BlockPos pos) override;
  // Filled cells, not counting cells of passable materials; none when the chunk is away.
  std::optional<std::uint32_t> occupancy(BlockPos pos) override;
  // A wet state, or any state for a chunk that has a layer, is written; a layer left empty is
  // removed; a dry state for a chunk without a layer changes nothing.
  bool set_fluid(BlockPos pos, Fluid state) override;

 private:
  const ostrel_core::chunk::Chunk* chunk(ChunkPos pos);
  FluidLayer* layer(ChunkPos pos);
  bool is_passable(MaterialId m) const;

  Layers& layers_;
  const AbsorbTable& absorbs_;
  const Materials& passable_;
  const Materials& washes_away_;
  const Resident& solid_;

  // The last chunk and layer looked up; a layer pointer stays valid until its entry is erased.
  std::optional<ChunkPos> chunk_at_;
  const ostrel_core::chunk::Chunk* chunk_ = nullptr;
  std::optional<ChunkPos> layer_at_;
  FluidLayer* layer_ = nullptr;
};

}  // namespace ostrel_server::fluid

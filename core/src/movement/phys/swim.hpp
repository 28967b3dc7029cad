#pragma once
// Submersion: the share of a box that lies in fluid, 0 to 1. The movement step scales buoyancy,
// drag and swimming by it; the tick stores a player's with the player.

#include <cstdint>

#include "fluid/fluid.hpp"
#include "movement/phys.hpp"
#include "movement/phys/voxels.hpp"

namespace ostrel_core::phys::swim {

// The block (relative to the view's origin) holding cell coordinate `v`: floor(v) / 3, rounded
// down.
std::int64_t block_of(float v);
// How high, in cells, the fluid `f` of block (bx, by, bz) reaches: the block's top when the block
// above is wet too, otherwise level / 9 cells above its bottom. REQUIRES: f.is_wet().
float surface_of(const voxels::Voxels& v, std::int64_t bx, std::int64_t by, std::int64_t bz, fluid::Fluid f);

// Sums, over the blocks the box touches (y outer, then z, then x), the overlap of the box with
// each wet block's fluid, which reaches the block's top when the block above is wet too and
// level / 9 cells up otherwise. An empty or inverted box gives 0.
float submersion(const voxels::Voxels& v, const Aabb& box);

}  // namespace ostrel_core::phys::swim

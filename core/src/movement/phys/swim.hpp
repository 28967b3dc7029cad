#pragma once
// Submersion: the share of a box that lies in fluid, 0 to 1. The movement step scales buoyancy,
// drag and swimming by it; the tick stores a player's with the player.

#include "movement/phys.hpp"
#include "movement/phys/voxels.hpp"

namespace ostrel_core::phys::swim {

// Sums, over the blocks the box touches (y outer, then z, then x), the overlap of the box with
// each wet block's fluid, which reaches the block's top when the block above is wet too and
// level / 9 cells up otherwise. An empty or inverted box gives 0.
float submersion(const voxels::Voxels& v, const Aabb& box);

}  // namespace ostrel_core::phys::swim

#pragma once
// The movement step: one tick of a body's motion over sub-node cells. Walking (gravity, jumps,
// ground friction, steps of one cell up and down, a sneaking edge guard), swimming (buoyancy and
// drag in proportion to submersion) and flying. Every player body and every walking entity moves
// by it, and clients predict with the same arithmetic, so each operation is single precision,
// rounded on its own, in the order written here.
//
// Bodies do not collide with each other here (crowd.hpp eases them apart); they collide with
// blocked cells (Voxels::blocked) and stop 1/1024 cell short of them.

#include <cstdint>

#include "movement/phys.hpp"
#include "movement/phys/voxels.hpp"

namespace ostrel_core::phys {

using voxels::Voxels;

struct Sweep {
  bool hit = false;
  float moved = 0.0f;  // cells along the axis, same sign as the distance asked
};

// Moves `box` along `axis` (0 x, 1 y, 2 z) by `distance`, testing only the layers of cells it
// crosses, in order of travel; stops kGap short of the first blocked cell. A distance of 0 (or
// not a number) moves `distance` and hits nothing.
Sweep sweep(const Voxels& v, const Aabb& box, int axis, float distance);

// Whether any cell of the layer just under the feet, over a footprint `width` wide, is blocked.
bool standing_on_ground_shaped(const Voxels& v, const Vec3& position, float width);

struct Resolve {
  float width = 0.0f;   // cells
  float height = 0.0f;  // cells
  const MoveTuning* tuning = nullptr;
  bool step = false;  // climb a wall of at most step_height
  bool stop = false;  // a wall zeroes the velocity on this axis
  bool edge = false;  // do not leave the ground (sneaking)
};

// Moves `body` along horizontal `axis` (0 x or 2 z) by its velocity on that axis.
// REQUIRES: axis is 0 or 2 and p.tuning is set.
void resolve_horizontal(const Voxels& v, Body& body, int axis, const Resolve& p);

// One tick. Reads the cells through `v`, which records the chunks it found missing.
Body step_shaped(const Voxels& v, Body body, const Intent& intent, const MoveTuning& tuning, float width,
                 float height);

}  // namespace ostrel_core::phys

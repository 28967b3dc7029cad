#pragma once
// The voxel ray: walks a ray through sub-node cells, in the order it crosses them, and reports
// the first solid cell (Voxels::solid: only resident air is open) with the face it entered by.
// Sight queries and a player's aim use it.

#include <array>
#include <cstdint>
#include <optional>

#include "movement/phys.hpp"
#include "movement/phys/voxels.hpp"

namespace ostrel_core::phys::ray {

struct RayHit {
  std::uint8_t axis = 0;                 // of the face entered: 0 x, 1 y, 2 z
  std::array<std::int32_t, 3> cell{};    // cells from the view's origin chunk
  std::array<std::int32_t, 3> normal{};  // +1 or -1 on `axis`, pointing back along the ray
  friend bool operator==(const RayHit&, const RayHit&) = default;
};

// `origin` in cells from the view's origin chunk; `direction` of any length; `max` in cells.
// Nothing for a zero or non-finite direction, or when no solid cell starts within `max` (a
// start cell that is solid is hit at once, whatever `max`).
std::optional<RayHit> cast(const voxels::Voxels& v, const Vec3& origin, const Vec3& direction, float max);

// How far along `direction` (in its lengths, from 0) a ray from `origin` enters the box; none
// when it misses.
std::optional<float> enter(const Vec3& origin, const Vec3& direction, const Aabb& box);

}  // namespace ostrel_core::phys::ray

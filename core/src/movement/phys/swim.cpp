#include "movement/phys/swim.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "base/assert.hpp"
#include "base/num.hpp"

namespace ostrel_core::phys::swim {

namespace {

float overlap(float lo, float hi, float from, float to) {
  return std::max(std::min(hi, to) - std::max(lo, from), 0.0f);
}

}  // namespace

std::int64_t block_of(float v) {
  const std::int64_t cell = num::saturate_floor<std::int32_t>(v);
  return cell >= 0 ? cell / 3 : -((-cell + 2) / 3);
}

float surface_of(const voxels::Voxels& v, std::int64_t bx, std::int64_t by, std::int64_t bz, fluid::Fluid f) {
  OSTREL_ASSERT(f.is_wet());
  if (fluid::Fluid{v.fluid(bx, by + 1, bz)}.is_wet()) return static_cast<float>(3 * by + 3);
  return static_cast<float>(3 * by) + static_cast<float>(f.level()) / 9.0f;
}

float submersion(const voxels::Voxels& v, const Aabb& box) {
  const float volume = (box.max[0] - box.min[0]) * (box.max[1] - box.min[1]) * (box.max[2] - box.min[2]);
  if (!(volume > 0.0f)) return 0.0f;

  std::array<float, 16> by_id{};  // overlap per fluid id
  bool any = false;
  const std::int64_t x0 = block_of(box.min[0]), x1 = block_of(box.max[0] - kGap);
  const std::int64_t y0 = block_of(box.min[1]), y1 = block_of(box.max[1] - kGap);
  const std::int64_t z0 = block_of(box.min[2]), z1 = block_of(box.max[2] - kGap);
  for (std::int64_t by = y0; by <= y1; ++by) {
    for (std::int64_t bz = z0; bz <= z1; ++bz) {
      for (std::int64_t bx = x0; bx <= x1; ++bx) {
        const fluid::Fluid f{v.fluid(bx, by, bz)};
        if (!f.is_wet()) continue;
        const float bottom = static_cast<float>(3 * by);
        const float top = surface_of(v, bx, by, bz, f);
        const float ox =
            overlap(box.min[0], box.max[0], static_cast<float>(3 * bx), static_cast<float>(3 * bx + 3));
        const float oy = overlap(box.min[1], box.max[1], bottom, top);
        const float oz =
            overlap(box.min[2], box.max[2], static_cast<float>(3 * bz), static_cast<float>(3 * bz + 3));
        const float share = ox * oy * oz;
        if (share > 0.0f) {
          by_id[f.id()] += share;
          any = true;
        }
      }
    }
  }
  if (!any) return 0.0f;
  float sum = 0.0f;
  for (float s : by_id) sum += s;
  return sum < volume ? sum / volume : 1.0f;
}

}  // namespace ostrel_core::phys::swim

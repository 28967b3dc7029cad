#include "movement/phys/ray.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/num.hpp"

namespace ostrel_core::phys::ray {

namespace {

constexpr float kFar = std::numeric_limits<float>::max();  // next and delta of an axis the ray does not cross

std::array<std::int32_t, 3> narrow(const std::array<std::int64_t, 3>& c) {
  std::array<std::int32_t, 3> out{};
  for (int a = 0; a < 3; ++a) {
    out[a] = num::clamp_i32(c[a]);
  }
  return out;
}

// The unit direction, or nothing. A vector whose squared length overflows is scaled down by its
// largest component first; any other vector keeps the plain arithmetic.
std::optional<Vec3> unit(Vec3 v) {
  for (float c : v) {
    if (!std::isfinite(c)) return std::nullopt;
  }
  float sq = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  if (std::isinf(sq)) {
    const float big = std::max({std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])});
    for (float& c : v) c /= big;
    sq = v[0] * v[0] + v[1] * v[1] + v[2] * v[2];
  }
  if (!(sq > 0.0f)) return std::nullopt;
  const float len = std::sqrt(sq);
  return Vec3{v[0] / len, v[1] / len, v[2] / len};
}

}  // namespace

std::optional<RayHit> cast(const voxels::Voxels& v, const Vec3& origin, const Vec3& direction, float max) {
  const auto unit_dir = unit(direction);
  if (!unit_dir) return std::nullopt;
  const Vec3& d = *unit_dir;
  std::array<std::int64_t, 3> c{};
  for (int a = 0; a < 3; ++a) c[a] = num::saturate_floor<std::int32_t>(origin[a]);

  if (v.solid(c[0], c[1], c[2])) {
    const float ax = std::fabs(d[0]), ay = std::fabs(d[1]), az = std::fabs(d[2]);
    const int axis = ax >= az && ax >= ay ? 0 : ay < az ? 2 : 1;
    RayHit hit{static_cast<std::uint8_t>(axis), narrow(c), {}};
    hit.normal[axis] = d[axis] > 0.0f ? -1 : 1;
    return hit;
  }

  std::array<std::int64_t, 3> step{};
  Vec3 next{}, delta{};
  for (int a = 0; a < 3; ++a) {
    if (d[a] > 0.0f) {
      step[a] = 1;
      next[a] = (static_cast<float>(c[a] + 1) - origin[a]) / d[a];
      delta[a] = 1.0f / std::fabs(d[a]);
    } else if (d[a] < 0.0f) {
      step[a] = -1;
      next[a] = (static_cast<float>(c[a]) - origin[a]) / d[a];
      delta[a] = 1.0f / std::fabs(d[a]);
    } else {
      next[a] = kFar;
      delta[a] = kFar;
    }
  }
  for (;;) {
    const int a = next[0] < next[2] && next[0] < next[1] ? 0 : next[1] < next[2] ? 1 : 2;
    // Written so that a maximum or a crossing that is not a number ends the walk.
    if (!(next[a] <= max) || step[a] == 0) return std::nullopt;
    c[a] += step[a];
    next[a] += delta[a];
    if (v.solid(c[0], c[1], c[2])) {
      RayHit hit{static_cast<std::uint8_t>(a), narrow(c), {}};
      hit.normal[a] = static_cast<std::int32_t>(-step[a]);
      return hit;
    }
  }
}

std::optional<float> enter(const Vec3& origin, const Vec3& direction, const Aabb& box) {
  float t_near = 0.0f;
  float t_far = std::numeric_limits<float>::max();
  for (int a = 0; a < 3; ++a) {
    if (direction[a] == 0.0f) {
      if (origin[a] < box.min[a] || origin[a] > box.max[a]) return std::nullopt;
      continue;
    }
    const float t1 = (box.min[a] - origin[a]) / direction[a];
    const float t2 = (box.max[a] - origin[a]) / direction[a];
    t_near = std::max(t_near, std::min(t1, t2));
    t_far = std::min(t_far, std::max(t1, t2));
    if (t_far < t_near) return std::nullopt;
  }
  return t_near;
}

}  // namespace ostrel_core::phys::ray

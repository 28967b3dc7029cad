#include "movement/phys.hpp"

#include <cmath>

#include <fmt/format.h>

#include "base/num.hpp"

namespace ostrel_core::phys {

std::string debug_vec(const Vec3& v) {
  return fmt::format("[{}, {}, {}]", num::format_number(v[0]), num::format_number(v[1]),
                     num::format_number(v[2]));
}

std::string Shape::debug() const {
  return fmt::format("Shape {{ width: {}, height: {} }}", num::format_number(width),
                     num::format_number(height));
}

Aabb Aabb::of_body(const Vec3& feet, float width, float height) {
  const float half = width / 2.0f;
  return Aabb{{feet[0] - half, feet[1], feet[2] - half}, {feet[0] + half, feet[1] + height, feet[2] + half}};
}

std::string Aabb::debug() const {
  return fmt::format("Aabb {{ min: {}, max: {} }}", debug_vec(min), debug_vec(max));
}

Anchored reanchor(const coords::ChunkPos& chunk, const Vec3& local) {
  Anchored out{{chunk.x, chunk.y, chunk.z}, local};
  for (int a = 0; a < 3; ++a) {
    const float p = local[a];
    const float q = p / 48.0f;
    float k = std::trunc(q);
    if (q < k) k -= 1.0f;
    if (k == 0.0f) continue;
    out.chunk[a] += num::saturate<std::int32_t>(k);
    out.local[a] = p + k * -48.0f;
  }
  return out;
}

MoveTuning MoveTuning::with_speed(float m) const {
  MoveTuning t = *this;
  if (m == 1.0f) return t;
  t.walk_speed *= m;
  t.sprint_speed *= m;
  t.sneak_speed *= m;
  t.ground_push *= m;
  t.sprint_push *= m;
  t.air_push *= m;
  return t;
}

MoveTuning MoveTuning::with_gravity(float m) const {
  MoveTuning t = *this;
  if (m != 1.0f) t.gravity *= m;
  return t;
}

}  // namespace ostrel_core::phys

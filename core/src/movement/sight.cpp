#include "movement/sight.hpp"

#include <cmath>

#include "base/num.hpp"
#include "detgen/trig.hpp"

namespace ostrel_core::sight {

std::optional<Frame> frame(const Vec3d& from, const Vec3d& to) {
  for (int i = 0; i < 3; ++i) {
    if (!std::isfinite(from[i]) || !std::isfinite(to[i])) return std::nullopt;
  }
  const double dx = to[0] - from[0];
  const double dy = to[1] - from[1];
  const double dz = to[2] - from[2];
  if ((dx * dx + dy * dy) + dz * dz > kMaxSightSquared) return std::nullopt;
  Frame f;
  std::array<std::int32_t, 3> c{};
  for (int i = 0; i < 3; ++i) {
    c[i] = num::saturate_floor<std::int32_t>(static_cast<float>(from[i] * 0.0625));
    const double corner = 16.0 * static_cast<double>(c[i]);
    f.from[i] = static_cast<float>((from[i] - corner) * 3.0);
    f.to[i] = static_cast<float>((to[i] - corner) * 3.0);
  }
  f.chunk = ChunkPos{c[0], c[1], c[2]};
  return f;
}

Vec3f look_direction(float yaw_turns, float pitch_turns) {
  using detgen::trig::kTau;
  const float yaw = yaw_turns * kTau;
  const float pitch = pitch_turns * kTau;
  const float cp = detgen::trig::cos(pitch);
  return {-(cp * detgen::trig::sin(yaw)), detgen::trig::sin(pitch), cp * detgen::trig::cos(yaw)};
}

}  // namespace ostrel_core::sight

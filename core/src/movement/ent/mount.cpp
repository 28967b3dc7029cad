#include "movement/ent/mount.hpp"

#include "detgen/trig.hpp"

namespace ostrel_core::ent::mount {

std::array<float, 3> seat_offset(const std::array<float, 3>& seat, float yaw) {
  const auto [x, y, z] = seat;
  if (x == 0.0f && z == 0.0f) return seat;
  const float s = detgen::trig::sin(yaw);
  const float c = detgen::trig::cos(yaw);
  return {x * c + z * s, y, z * c - x * s};
}

}  // namespace ostrel_core::ent::mount

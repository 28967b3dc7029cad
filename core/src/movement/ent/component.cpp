#include "movement/ent/component.hpp"

#include <fmt/format.h>

#include "base/num.hpp"

namespace ostrel_core::ent::component {

namespace {

struct Axis {
  std::int32_t chunk;
  float local;
};

Axis anchor(double v) {
  const auto q = static_cast<float>(v * 0.0625);
  const auto chunk = num::saturate_floor<std::int32_t>(q);
  const double local = (v + static_cast<double>(chunk) * -16.0) * 3.0;
  return {chunk, static_cast<float>(local)};
}

}  // namespace

Transform Transform::from_world(double x, double y, double z) {
  const Axis ax = anchor(x), ay = anchor(y), az = anchor(z);
  Transform t;
  t.chunk = {ax.chunk, ay.chunk, az.chunk};
  t.local = {ax.local, ay.local, az.local};
  return t;
}

std::string Transform::debug() const {
  return fmt::format("Transform {{ chunk: ({}, {}, {}), local: [{}, {}, {}], yaw: {}, pitch: {} }}", chunk.x,
                     chunk.y, chunk.z, num::format_number(local[0]), num::format_number(local[1]),
                     num::format_number(local[2]), num::format_number(yaw), num::format_number(pitch));
}

}  // namespace ostrel_core::ent::component

#include "presentation/lightning.hpp"

#include <algorithm>
#include <bit>
#include <cmath>

#include "detgen/rng.hpp"
#include "presentation/particle.hpp"

namespace ostrel_core::lightning {
namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;

double clamp_coordinate(double v, double non_finite) {
  if (!std::isfinite(v)) return non_finite;
  return std::min(std::max(v, -kCoordinateLimit), kCoordinateLimit);
}

}  // namespace

LightningRequest sanitise_lightning(LightningRequest r) {
  Lightning& b = r.lightning;
  for (double& c : b.from) c = clamp_coordinate(c, 0.0);
  for (std::size_t i = 0; i < 3; ++i) b.to[i] = clamp_coordinate(b.to[i], b.from[i]);
  const double dx = b.to[0] - b.from[0];
  const double dy = b.to[1] - b.from[1];
  const double dz = b.to[2] - b.from[2];
  const double length = std::sqrt(dx * dx + dy * dy + dz * dz);
  if (length > kMaxLength) {
    const double k = kMaxLength / length;
    b.to = {b.from[0] + dx * k, b.from[1] + dy * k, b.from[2] + dz * k};
  }
  const float colour_default[3] = {0.85f, 0.8f, 1.0f};
  for (std::size_t i = 0; i < 3; ++i) {
    b.colour[i] = particle::clamp_field(b.colour[i], 0.0f, 2.0f, colour_default[i]);
  }
  b.width = particle::clamp_field(b.width, 0.0f, 8.0f, 0.4f);
  b.branches = std::min<std::uint8_t>(b.branches, 8);
  b.ticks = std::clamp<std::uint16_t>(b.ticks, 1, 200);
  r.radius = particle::clamp_field(r.radius, 0.0f, 1024.0f, 256.0f);
  return r;
}

std::uint64_t engine_seed(std::uint64_t calls_before, const std::array<double, 3>& from,
                          const std::array<double, 3>& to) {
  std::uint64_t h = detgen::rng::mix(calls_before + kGolden);
  for (const auto* end : {&from, &to}) {
    for (double c : *end) h = detgen::rng::mix((std::bit_cast<std::uint64_t>(c) ^ h) + kGolden);
  }
  return h;
}

}  // namespace ostrel_core::lightning

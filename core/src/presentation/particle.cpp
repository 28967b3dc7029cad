#include "presentation/particle.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace ostrel_core::particle {
namespace {
constexpr auto clamp = clamp_field;
}  // namespace

float clamp_field(float v, float lo, float hi, float non_finite) {
  if (!std::isfinite(v)) return non_finite;
  if (v < lo) v = lo;
  if (v > hi) v = hi;
  return v;
}

Burst sanitise_burst(Burst b) {
  for (double& c : b.pos) {
    if (!std::isfinite(c)) c = 0.0;
  }
  b.count = std::min(b.count, kMaxBurstCount);
  b.size = clamp(b.size, 0.0f, 4.0f, 0.1f);
  b.lifetime = clamp(b.lifetime, 0.0f, 30.0f, 1.0f);
  for (float& v : b.velocity) v = clamp(v, -64.0f, 64.0f, 0.0f);
  b.spread = clamp(b.spread, 0.0f, 64.0f, 0.0f);
  for (float& a : b.area) a = clamp(a, 0.0f, 16.0f, 0.0f);
  b.gravity = clamp(b.gravity, -64.0f, 64.0f, 0.0f);
  return b;
}

ParticleRequest sanitise(ParticleRequest r) {
  r.burst = sanitise_burst(std::move(r.burst));
  r.radius = clamp(r.radius, 0.0f, 128.0f, 32.0f);
  return r;
}

}  // namespace ostrel_core::particle

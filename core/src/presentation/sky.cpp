#include "presentation/sky.hpp"

#include <cmath>

#include "base/num.hpp"
#include "detgen/rng.hpp"
#include "detgen/trig.hpp"

namespace ostrel_core::sky {
namespace {

float unit(detgen::rng::StreamRng& rng) { return rng.next_f32(); }

// A difference of two coordinates as f64. Past the i64 range (a run-time domain placed near the
// ends of the frame) it is formed in f64 instead of overflowing.
double apart(std::int64_t a, std::int64_t b) {
  std::int64_t d = 0;
  if (__builtin_sub_overflow(a, b, &d)) return static_cast<double>(a) - static_cast<double>(b);
  return static_cast<double>(d);
}

}  // namespace

UniversalPos sample_position(detgen::rng::StreamRng& rng, std::uint64_t radius) {
  float x = 0.0f;
  float y = 0.0f;
  float z = 0.0f;
  do {
    const float a = unit(rng);
    const float b = unit(rng);
    const float c = unit(rng);
    x = (a + a) - 1.0f;
    y = (b + b) - 1.0f;
    z = (c + c) - 1.0f;
  } while ((x * x + y * y) + z * z > 1.0f);
  const auto r = static_cast<double>(radius);
  return {num::saturate<std::int64_t>(static_cast<double>(x) * r),
          num::saturate<std::int64_t>(static_cast<double>(y) * r),
          num::saturate<std::int64_t>(static_cast<double>(z) * r)};
}

std::vector<StarRecord> star_catalog(std::uint64_t seed) {
  detgen::rng::StreamRng rng(seed, {0, 0, 0}, "sky:stars");
  std::vector<StarRecord> stars;
  stars.reserve(kStarCount);
  for (std::uint32_t i = 0; i < kStarCount; ++i) {
    StarRecord s;
    s.position = sample_position(rng, kStarRadius);
    const float m = unit(rng);
    s.magnitude = m * m;
    s.warmth = unit(rng);
    s.id = i + kFirstStarId;
    stars.push_back(s);
  }
  return stars;
}

UniversalPos world_position(std::uint64_t seed) {
  detgen::rng::StreamRng rng(seed, {0, 0, 0}, "sky:world-position");
  const UniversalPos p = sample_position(rng, kWorldRadius);
  if (p == UniversalPos{}) return kOffCentre;
  return p;
}

std::array<float, 2> turn(float time_of_day) {
  float f = time_of_day - std::trunc(time_of_day);
  if (f < 0.0f) f += 1.0f;
  const float a = (f - 0.25f) * detgen::trig::kTau;
  return {detgen::trig::cos(a), detgen::trig::sin(a)};
}

std::optional<Sighting> star_in_view(std::span<const StarRecord> catalog, const UniversalPos& viewer,
                                     const std::array<float, 3>& d, float time_of_day) {
  const float l = (d[0] * d[0] + d[1] * d[1]) + d[2] * d[2];
  const float n = std::sqrt(l);
  if (l == 0.0f || !std::isfinite(n)) return std::nullopt;
  const auto [c, s] = turn(time_of_day);
  const float ux = d[0] / n;
  const float uy = d[1] / n;
  const float uz = d[2] / n;
  const float vx = ux * c - uy * s;
  const float vy = uy * c + ux * s;
  const float vz = uz;
  std::optional<Sighting> best;
  for (const StarRecord& star : catalog) {
    const double rx = apart(star.position.x, viewer.x);
    const double ry = apart(star.position.y, viewer.y);
    const double rz = apart(star.position.z, viewer.z);
    const double dd = (rx * rx + ry * ry) + rz * rz;
    if (!(dd > 0.0)) continue;
    const double m = std::sqrt(dd);
    const auto fx = static_cast<float>(rx / m);
    const auto fy = static_cast<float>(ry / m);
    const auto fz = static_cast<float>(rz / m);
    const float alignment = vz * fz + (vx * fx + vy * fy);
    if (!best || alignment > best->alignment) best = Sighting{star.id, alignment};
  }
  return best;
}

}  // namespace ostrel_core::sky

#include "presentation/atmosphere.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "base/num.hpp"

namespace ostrel_core::atmosphere {
namespace {

constexpr auto clamp = particle::clamp_field;

void clamp_each(Vec3f& v, float lo, float hi, float non_finite) {
  for (float& c : v) c = clamp(c, lo, hi, non_finite);
}

std::uint32_t cap_ease(std::uint32_t ticks) { return std::min(ticks, kMaxEaseTicks); }

std::optional<float> clamp_share(std::optional<float> v) {
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return clamp(*v, 0.0f, 1.0f, 0.0f);
}

}  // namespace

SkyModifier sanitise(SkyModifier m) {
  m.intensity = clamp(m.intensity, 0.0f, 2.0f, 1.0f);
  clamp_each(m.sky, 0.0f, 2.0f, 0.0f);
  m.sky_mix = clamp(m.sky_mix, 0.0f, 1.0f, 0.0f);
  m.fog_distance = clamp(m.fog_distance, 0.05f, 4.0f, 1.0f);
  m.saturation = clamp(m.saturation, 0.0f, 4.0f, 1.0f);
  m.stars = clamp_share(m.stars);
  m.light_floor = clamp_share(m.light_floor);
  m.ease_ticks = cap_ease(m.ease_ticks);
  return m;
}

Precipitation sanitise_precipitation(Precipitation p) {
  p.shape = particle::sanitise_burst(std::move(p.shape));
  p.rate = clamp(p.rate, 0.0f, 4000.0f, 0.0f);
  p.above = clamp(p.above, 0.0f, 64.0f, 16.0f);
  p.ease_ticks = cap_ease(p.ease_ticks);
  return p;
}

CloudLayer sanitise_clouds(CloudLayer c) {
  c.base = clamp(c.base, -30000.0f, 30000.0f, 256.0f);
  c.thickness = clamp(c.thickness, 0.0f, 1024.0f, 64.0f);
  c.cell = clamp(c.cell, 1.0f, 64.0f, 8.0f);
  c.detail = std::clamp<std::uint8_t>(c.detail, 1, 4);
  // Must be above 0 and finite; a positive subnormal is accepted.
  if (!(c.frequency > 0.0f) || !std::isfinite(c.frequency)) c.frequency = 1.0f / 600.0f;
  c.frequency = std::min(c.frequency, 1.0f);
  c.octaves = std::clamp<std::uint8_t>(c.octaves, 1, 6);
  c.towers = clamp(c.towers, 0.0f, 1.0f, 0.0f);
  for (float& d : c.drift) d = clamp(d, -64.0f, 64.0f, 0.0f);
  c.evolve = clamp(c.evolve, -1.0f, 1.0f, 0.0f);
  clamp_each(c.colour, 0.0f, 2.0f, 1.0f);
  clamp_each(c.shade, 0.0f, 2.0f, 0.5f);
  return c;
}

Clouds sanitise_cloud_state(Clouds c) {
  c.cover = clamp(c.cover, 0.0f, 1.0f, 0.0f);
  c.darkness = clamp(c.darkness, 0.0f, 1.0f, 0.0f);
  if (c.base && !std::isfinite(*c.base)) c.base.reset();
  c.ease_ticks = cap_ease(c.ease_ticks);
  c.stratocumulus = clamp(c.stratocumulus, 0.0f, 1.0f, 0.0f);
  c.altocumulus = clamp(c.altocumulus, 0.0f, 1.0f, 0.0f);
  c.cumulonimbus = clamp(c.cumulonimbus, 0.0f, 1.0f, 0.0f);
  return c;
}

std::optional<CloudMap> sanitise_cloud_map(CloudMap m) {
  bool given_empty = m.size == 0;
  m.size = std::min(m.size, kMaxCloudMapSize);
  if (!(m.cell > 0.0f) || !std::isfinite(m.cell)) return std::nullopt;
  if (!std::isfinite(m.origin[0]) || !std::isfinite(m.origin[1])) return std::nullopt;
  if (given_empty) return std::nullopt;
  const std::size_t cells = std::size_t{m.size} * m.size;
  if (m.cover.size() != cells || m.darkness.size() != cells) return std::nullopt;
  for (const auto* layer : {&m.stratocumulus, &m.altocumulus, &m.cumulonimbus}) {
    if (!layer->empty() && layer->size() != cells) return std::nullopt;
  }
  return m;
}

Flash sanitise_flash(Flash f) {
  f.intensity = clamp(f.intensity, 0.0f, 4.0f, 1.0f);
  clamp_each(f.colour, 0.0f, 2.0f, 1.0f);
  f.attack_ticks = std::min<std::uint32_t>(f.attack_ticks, 100);
  f.decay_ticks = std::min<std::uint32_t>(f.decay_ticks, 400);
  return f;
}

FlashRequest sanitise_flash_request(FlashRequest r) {
  r.flash = sanitise_flash(r.flash);
  for (double& c : r.pos) {
    if (!std::isfinite(c)) c = 0.0;
  }
  r.radius = clamp(r.radius, 0.0f, 1024.0f, 256.0f);
  return r;
}

std::uint8_t cloud_share_byte(float v) {
  if (!std::isfinite(v)) return 0;
  v = std::clamp(v, 0.0f, 1.0f);
  float scaled = v * 255.0f + 0.5f;
  return num::saturate<std::uint8_t>(scaled);
}

Rainbow rainbow_of(double intensity, double ease_ticks) {
  Rainbow r;
  // Narrowed to f32: a value that would round beyond the f32 range is infinite, so 0.
  constexpr double kF32Overflow = 0x1.ffffffp+127;  // FLT_MAX plus half an ulp
  if (std::isfinite(intensity) && std::fabs(intensity) < kF32Overflow) {
    r.intensity = std::clamp(static_cast<float>(intensity), 0.0f, 1.0f);
  }
  if (std::isnan(ease_ticks)) {
    r.ease_ticks = 0;
  } else {
    r.ease_ticks = num::saturate<std::uint32_t>(std::clamp(ease_ticks, 0.0, static_cast<double>(kMaxEaseTicks)));
  }
  return r;
}

}  // namespace ostrel_core::atmosphere

#include "detgen/map.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cassert>
#include <limits>

#include "detgen/fp.hpp"

namespace ostrel_core::detgen::map {
namespace {

constexpr std::size_t kMaxRangeSamples = 4096;  // range_over reads the whole map beyond this

// a - b in 32 bits, wrapping.
std::int32_t wrap_sub(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

std::size_t clamp_index(std::int64_t i, std::uint32_t side) {
  return static_cast<std::size_t>(std::clamp<std::int64_t>(i, 0, static_cast<std::int64_t>(side) - 1));
}

// Position along one axis in samples, and the columns [first, last] that sample() may read for
// any block between lo and hi. `inverted` when 32-bit wrapping turned the span around.
struct Span {
  std::size_t first = 0;
  std::size_t last = 0;
  bool inverted = false;
};

Span span_of(std::int32_t a, std::int32_t b, std::int32_t origin, std::uint32_t scale, std::uint32_t side) {
  const std::int32_t lo = wrap_sub(std::min(a, b), origin);
  const std::int32_t hi = wrap_sub(std::max(a, b), origin);
  const float s = static_cast<float>(scale);
  const std::int64_t first = fp::floor_i32(static_cast<float>(lo) / s);
  const std::int64_t last = static_cast<std::int64_t>(fp::floor_i32(static_cast<float>(hi) / s)) + 1;
  return {clamp_index(first, side), clamp_index(last, side), lo > hi};
}

noise::Interval extremes(const float* begin, const float* end, noise::Interval acc) {
  for (const float* p = begin; p != end; ++p) {
    acc.low = fp::min_num(acc.low, *p);
    acc.high = fp::max_num(acc.high, *p);
  }
  return acc;
}

}  // namespace

std::string MapError::message() const {
  switch (kind) {
    case MapErrorKind::SideOutOfRange:
      return fmt::format("a map may be 1 to {} samples a side, not {}", kMaxSide, a);
    case MapErrorKind::ScaleTooSmall:
      return "a map's scale must be at least one block a sample";
    case MapErrorKind::ShapeMismatch:
      return fmt::format("maps must match to combine: {} x {} against {} x {}", a, a, b, b);
    case MapErrorKind::BlurTooWide:
      return fmt::format("a blur radius of {} is wider than a map {} samples across", a, b);
  }
  return "map error";
}

std::expected<Map, MapError> Map::create(std::uint32_t side, std::uint32_t scale, std::int32_t origin_x,
                                         std::int32_t origin_z) {
  if (side == 0 || side > kMaxSide) return std::unexpected(MapError{MapErrorKind::SideOutOfRange, side});
  if (scale == 0) return std::unexpected(MapError{MapErrorKind::ScaleTooSmall});
  Map m;
  m.side = side;
  m.scale = scale;
  m.origin_x = origin_x;
  m.origin_z = origin_z;
  m.samples.assign(static_cast<std::size_t>(side) * side, 0.0f);
  return m;
}

float Map::sample(std::int32_t x, std::int32_t z) const {
  const float s = static_cast<float>(scale);
  const float fx = static_cast<float>(wrap_sub(x, origin_x)) / s;
  const float fz = static_cast<float>(wrap_sub(z, origin_z)) / s;
  const std::int32_t i = fp::floor_i32(fx);
  const std::int32_t j = fp::floor_i32(fz);
  const std::size_t x0 = clamp_index(i, side), x1 = clamp_index(static_cast<std::int64_t>(i) + 1, side);
  const std::size_t z0 = clamp_index(j, side), z1 = clamp_index(static_cast<std::int64_t>(j) + 1, side);
  const float nw = samples[z0 * side + x0], ne = samples[z0 * side + x1];
  const float sw = samples[z1 * side + x0], se = samples[z1 * side + x1];
  // The unclamped floors: outside the square tx and tz leave 0..1 while both neighbours agree.
  const float tx = fx - static_cast<float>(i);
  const float tz = fz - static_cast<float>(j);
  const float top = nw + tx * (ne - nw);
  const float bottom = sw + tx * (se - sw);
  return top + tz * (bottom - top);
}

std::array<std::int32_t, 256> Map::heightmap(std::int32_t chunk_x, std::int32_t chunk_z) const {
  std::array<std::int32_t, 256> out;
  const auto bx = static_cast<std::uint32_t>(chunk_x) * 16u;
  const auto bz = static_cast<std::uint32_t>(chunk_z) * 16u;
  for (std::uint32_t r = 0; r < 16; ++r) {
    for (std::uint32_t c = 0; c < 16; ++c) {
      const float v = sample(static_cast<std::int32_t>(bx + c), static_cast<std::int32_t>(bz + r));
      out[c + 16 * r] = fp::floor_i32(v);
    }
  }
  return out;
}

noise::Interval Map::range_over(std::int32_t x_a, std::int32_t x_b, std::int32_t z_a,
                                std::int32_t z_b) const {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  const noise::Interval start{kInf, -kInf};
  const Span cx = span_of(x_a, x_b, origin_x, scale, side);
  const Span cz = span_of(z_a, z_b, origin_z, scale, side);
  const std::size_t count = (cx.last - cx.first + 1) * (cz.last - cz.first + 1);
  if (cx.inverted || cz.inverted || count > kMaxRangeSamples) {
    return extremes(samples.data(), samples.data() + samples.size(), start);
  }
  noise::Interval acc = start;
  for (std::size_t r = cz.first; r <= cz.last; ++r) {
    const float* row = samples.data() + r * side;
    acc = extremes(row + cx.first, row + cx.last + 1, acc);
  }
  return acc;
}

void Map::noise(std::uint64_t seed, const noise::NoiseOptions& options, float amplitude) {
  const noise::Grid2 grid{side,
                          side,
                          static_cast<float>(origin_x),
                          static_cast<float>(origin_z),
                          static_cast<float>(scale),
                          static_cast<float>(scale)};
  // The grid matches a well-formed map's samples, so the fill cannot fail.
  [[maybe_unused]] auto filled = noise::fill_2d(seed, grid, options, samples);
  assert(filled);
  ++revision;
  for (float& v : samples) v = v * amplitude;
}

std::expected<void, MapError> Map::blur(std::uint32_t radius) {
  if (radius == 0) return {};
  if (radius >= side) return std::unexpected(MapError{MapErrorKind::BlurTooWide, radius, side});
  const float d = static_cast<float>(2 * radius + 1);
  const std::int64_t r = radius;
  const std::size_t n = side;
  // Rows into h, then columns of h back into the samples; the edge sample repeats. Each output
  // sums its 2r + 1 terms from k = -r upwards, one whole row of outputs per k.
  std::vector<float> h(samples.size());
  std::vector<float> acc(n);
  for (std::size_t row = 0; row < n; ++row) {
    const float* src = samples.data() + row * n;
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (std::int64_t k = -r; k <= r; ++k) {
      // Columns whose neighbour c + k lies inside the row, then the clamped ones at the edges.
      const std::size_t lo = static_cast<std::size_t>(std::max<std::int64_t>(0, -k));
      const std::size_t hi = static_cast<std::size_t>(
          std::min<std::int64_t>(static_cast<std::int64_t>(n), static_cast<std::int64_t>(n) - k));
      for (std::size_t c = 0; c < lo; ++c) acc[c] = acc[c] + src[0];
      for (std::size_t c = lo; c < hi; ++c) acc[c] = acc[c] + src[static_cast<std::int64_t>(c) + k];
      for (std::size_t c = hi; c < n; ++c) acc[c] = acc[c] + src[n - 1];
    }
    for (std::size_t c = 0; c < n; ++c) h[row * n + c] = acc[c] / d;
  }
  ++revision;
  for (std::size_t row = 0; row < n; ++row) {
    std::fill(acc.begin(), acc.end(), 0.0f);
    for (std::int64_t k = -r; k <= r; ++k) {
      const float* src = h.data() + clamp_index(static_cast<std::int64_t>(row) + k, side) * n;
      for (std::size_t c = 0; c < n; ++c) acc[c] = acc[c] + src[c];
    }
    for (std::size_t c = 0; c < n; ++c) samples[row * n + c] = acc[c] / d;
  }
  return {};
}

std::expected<void, MapError> Map::combine(const Map& other, CombineWay way) {
  if (other.side != side) return std::unexpected(MapError{MapErrorKind::ShapeMismatch, side, other.side});
  ++revision;
  const std::size_t n = std::min(samples.size(), other.samples.size());
  float* a = samples.data();
  const float* b = other.samples.data();
  switch (way) {
    case CombineWay::Add:
      for (std::size_t k = 0; k < n; ++k) a[k] = a[k] + b[k];
      break;
    case CombineWay::Mul:
      for (std::size_t k = 0; k < n; ++k) a[k] = a[k] * b[k];
      break;
    case CombineWay::Min:
      for (std::size_t k = 0; k < n; ++k) a[k] = fp::min_num(a[k], b[k]);
      break;
    case CombineWay::Max:
      for (std::size_t k = 0; k < n; ++k) a[k] = fp::max_num(a[k], b[k]);
      break;
  }
  return {};
}

void Map::offset(float by) {
  ++revision;
  for (float& v : samples) v = v + by;
}

void Map::scale_by(float by) {
  ++revision;
  for (float& v : samples) v = by * v;
}

void Map::clamp(float low, float high) {
  assert(low <= high);
  ++revision;
  for (float& v : samples) {
    const float w = v < low ? low : v;
    v = high < w ? high : w;
  }
}

}  // namespace ostrel_core::detgen::map

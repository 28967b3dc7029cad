// Interval bounds of 3D simplex noise and its fractal sums over a box, computed from the lattice
// itself. Every step is monotone in the box's limits, so the bound holds every value the noise
// takes at a point of the box, exactly as that point is computed in single precision.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

#include "detgen/fp.hpp"
#include "detgen/noise.hpp"
#include "detgen/noise_lattice.hpp"

namespace ostrel_core::detgen::noise {
namespace {

using namespace lattice;  // NOLINT: the constants are this file's vocabulary
using fp::max_num;
using fp::min_num;

constexpr std::int64_t kMaxCells = 64;

Interval square(Interval v) {
  if (v.low >= 0.0f) return {v.low * v.low, v.high * v.high};
  if (v.high <= 0.0f) return {v.high * v.high, v.low * v.low};
  const float m = max_num(std::fabs(v.low), std::fabs(v.high));
  return {0.0f, m * m};
}

Interval shift(Interval v, float minus, float plus) {
  return {(v.low - minus) + plus, (v.high - minus) + plus};
}

// What one corner's term can be over offset intervals u, v, w.
Interval corner_bound(std::uint64_t seed, std::int32_t a, std::int32_t b, std::int32_t c, Interval u,
                      Interval v, Interval w) {
  const Interval u2 = square(u), v2 = square(v), w2 = square(w);
  const float t_high = kR3 - ((u2.low + v2.low) + w2.low);
  if (t_high <= 0.0f) return {0.0f, 0.0f};
  const float* g = kGrad3[lattice_hash(seed, a, b, c) & 15];
  const float dot_low = (min_num(u.low * g[0], u.high * g[0]) + min_num(v.low * g[1], v.high * g[1])) +
                        min_num(w.low * g[2], w.high * g[2]);
  const float dot_high = (max_num(u.low * g[0], u.high * g[0]) + max_num(v.low * g[1], v.high * g[1])) +
                         max_num(w.low * g[2], w.high * g[2]);
  const float t_low = max_num(kR3 - ((u2.high + v2.high) + w2.high), 0.0f);
  const float p = (t_low * t_low) * (t_low * t_low);
  const float q = (t_high * t_high) * (t_high * t_high);
  const float e[4] = {p * dot_low, p * dot_high, q * dot_low, q * dot_high};
  return hull(e);
}

// One simplex of a cell: which corners 1 and 2 it has, and when the box can reach it.
struct Simplex {
  std::int32_t c1[3];
  std::int32_t c2[3];
};
constexpr Simplex kSimplices[6] = {
    {{1, 0, 0}, {1, 1, 0}},  // x >= y >= z
    {{1, 0, 0}, {1, 0, 1}},  // x >= z >= y
    {{0, 0, 1}, {1, 0, 1}},  // z >= x >= y
    {{0, 0, 1}, {0, 1, 1}},  // z >= y >= x
    {{0, 1, 0}, {0, 1, 1}},  // y >= z >= x
    {{0, 1, 0}, {1, 1, 0}},  // y >= x >= z
};

bool reachable(int s, Interval x, Interval y, Interval z) {
  switch (s) {
    case 0:
      return x.high >= y.low && y.high >= z.low;
    case 1:
      return x.high >= y.low && x.high >= z.low && y.low < z.high;
    case 2:
      return x.high >= y.low && x.low < z.high && y.low < z.high;
    case 3:
      return x.low < y.high && y.low < z.high;
    case 4:
      return x.low < y.high && y.high >= z.low && x.low < z.high;
    default:
      return x.low < y.high && y.high >= z.low && x.high >= z.low;
  }
}

// The axis's limits ordered and clamped as simplex_3d clamps its coordinates.
Interval axis(float a, float b) { return {clamp_coord(min_num(a, b)), clamp_coord(max_num(a, b))}; }

// Lattice cells the box can touch along one axis: floor(low + s_low) to floor(high + s_high).
std::int64_t cell_count(std::int32_t from, std::int32_t to) {
  return static_cast<std::int64_t>(to) - static_cast<std::int64_t>(from) + 1;
}

}  // namespace

Interval hull(std::span<const float> values) {
  Interval out{values[0], values[0]};
  for (float v : values.subspan(1)) {
    out.low = min_num(out.low, v);
    out.high = max_num(out.high, v);
  }
  return out;
}

std::optional<Interval> simplex_3d_bounds(std::uint64_t seed, float x_a, float x_b, float y_a, float y_b,
                                          float z_a, float z_b) {
  const Interval bx = axis(x_a, x_b), by = axis(y_a, y_b), bz = axis(z_a, z_b);
  if (std::isnan(bx.low) || std::isnan(by.low) || std::isnan(bz.low)) return std::nullopt;
  const float s_low = ((bx.low + by.low) + bz.low) * kF3;
  const float s_high = ((bx.high + by.high) + bz.high) * kF3;
  const std::int32_t i0 = fp::floor_i32(bx.low + s_low), i1 = fp::floor_i32(bx.high + s_high);
  const std::int32_t j0 = fp::floor_i32(by.low + s_low), j1 = fp::floor_i32(by.high + s_high);
  const std::int32_t k0 = fp::floor_i32(bz.low + s_low), k1 = fp::floor_i32(bz.high + s_high);
  const std::int64_t ni = cell_count(i0, i1), nj = cell_count(j0, j1), nk = cell_count(k0, k1);
  if (ni < 1 || nj < 1 || nk < 1 || ni > kMaxCells || nj > kMaxCells || nk > kMaxCells ||
      ni * nj * nk > kMaxCells) {
    return std::nullopt;
  }
  bool any = false;
  Interval out{};
  for (std::int64_t di = 0; di < ni; ++di) {
    for (std::int64_t dj = 0; dj < nj; ++dj) {
      for (std::int64_t dk = 0; dk < nk; ++dk) {
        const auto i = static_cast<std::int32_t>(i0 + di);
        const auto j = static_cast<std::int32_t>(j0 + dj);
        const auto k = static_cast<std::int32_t>(k0 + dk);
        const float t = static_cast<float>(wrap_add(wrap_add(i, j), k)) * kG3;
        const float oi = static_cast<float>(i) - t;
        const float oj = static_cast<float>(j) - t;
        const float ok = static_cast<float>(k) - t;
        const Interval x{bx.low - oi, bx.high - oi};
        const Interval y{by.low - oj, by.high - oj};
        const Interval z{bz.low - ok, bz.high - ok};
        const Interval c0 = corner_bound(seed, i, j, k, x, y, z);
        const Interval c3 = corner_bound(seed, wrap_add(i, 1), wrap_add(j, 1), wrap_add(k, 1),
                                         shift(x, 1.0f, 0.5f), shift(y, 1.0f, 0.5f), shift(z, 1.0f, 0.5f));
        for (int s = 0; s < 6; ++s) {
          if (!reachable(s, x, y, z)) continue;
          const Simplex& sx = kSimplices[s];
          const Interval c1 = corner_bound(seed, wrap_add(i, sx.c1[0]), wrap_add(j, sx.c1[1]),
                                           wrap_add(k, sx.c1[2]), shift(x, static_cast<float>(sx.c1[0]), kG3),
                                           shift(y, static_cast<float>(sx.c1[1]), kG3),
                                           shift(z, static_cast<float>(sx.c1[2]), kG3));
          const Interval c2 = corner_bound(
              seed, wrap_add(i, sx.c2[0]), wrap_add(j, sx.c2[1]), wrap_add(k, sx.c2[2]),
              shift(x, static_cast<float>(sx.c2[0]), k2G3), shift(y, static_cast<float>(sx.c2[1]), k2G3),
              shift(z, static_cast<float>(sx.c2[2]), k2G3));
          const Interval b{c3.low + ((c0.low + c1.low) + c2.low), c3.high + ((c0.high + c1.high) + c2.high)};
          if (!any) {
            out = b;
            any = true;
          } else {
            out.low = min_num(out.low, b.low);
            out.high = max_num(out.high, b.high);
          }
        }
      }
    }
  }
  if (!any) return std::nullopt;
  return Interval{max_num(out.low * kScale3, -kOctaveBound), min_num(out.high * kScale3, kOctaveBound)};
}

Interval fractal_3d_bounds(std::uint64_t seed, const NoiseOptions& options, float x_a, float x_b, float y_a,
                           float y_b, float z_a, float z_b) {
  const std::uint32_t count = std::clamp<std::uint32_t>(options.octaves, 1, kMaxOctaves);
  float sum_low = 0.0f, sum_high = 0.0f, total = 0.0f, weight = 1.0f, f = options.frequency;
  for (std::uint32_t o = 0; o < count; ++o) {
    const Interval r =
        simplex_3d_bounds(octave_seed(seed, o), x_a * f, x_b * f, y_a * f, y_b * f, z_a * f, z_b * f)
            .value_or(Interval{-kOctaveBound, kOctaveBound});
    Interval v = r;
    if (options.shaping != Shaping::Plain) {
      // The interval of |v| + |v|.
      Interval twice;
      if (r.low >= 0.0f) {
        twice = {2.0f * r.low, 2.0f * r.high};
      } else if (r.high <= 0.0f) {
        twice = {-2.0f * r.high, -2.0f * r.low};
      } else {
        twice = {0.0f, 2.0f * max_num(std::fabs(r.low), std::fabs(r.high))};
      }
      v = options.shaping == Shaping::Ridged ? Interval{1.0f - twice.high, 1.0f - twice.low}
                                             : Interval{twice.low - 1.0f, twice.high - 1.0f};
    }
    // A negative weight swaps the ends.
    const float a = v.low * weight, b = v.high * weight;
    sum_low = sum_low + min_num(a, b);
    sum_high = sum_high + max_num(a, b);
    total = weight + total;
    weight = options.gain * weight;
    f = options.lacunarity * f;
  }
  if (!(total > 0.0f)) {
    constexpr float kInf = std::numeric_limits<float>::infinity();
    return {-kInf, kInf};
  }
  return {sum_low / total, sum_high / total};
}

}  // namespace ostrel_core::detgen::noise

#include "detgen/noise.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/num.hpp"
#include "detgen/fp.hpp"
#include "detgen/noise_lattice.hpp"
#include "detgen/noise_x4.hpp"

namespace ostrel_core::detgen::noise {
namespace {

using namespace lattice;  // NOLINT: the constants are this file's vocabulary

std::size_t checked_product(std::size_t a, std::size_t b) {
  std::size_t r;
  return __builtin_mul_overflow(a, b, &r) ? std::numeric_limits<std::size_t>::max() : r;
}

// The corner's term, computed whether or not the corner contributes so that the choice is a
// select rather than a branch: a corner with tc <= 0 adds nothing.
float corner_2d(std::uint64_t seed, std::int32_t a, std::int32_t b, float u, float w) {
  const float tc = (kR2 - u * u) - w * w;
  const float* g = kGrad2[lattice_hash(seed, a, b) & 7];
  const float term = ((tc * tc) * (tc * tc)) * (u * g[0] + w * g[1]);
  return tc <= 0.0f ? 0.0f : term;
}

float corner_3d(std::uint64_t seed, std::int32_t a, std::int32_t b, std::int32_t c, float u, float v,
                float w) {
  const float tc = ((kR3 - u * u) - v * v) - w * w;
  const float* g = kGrad3[lattice_hash(seed, a, b, c) & 15];
  const float term = ((tc * tc) * (tc * tc)) * ((u * g[0] + v * g[1]) + w * g[2]);
  return tc <= 0.0f ? 0.0f : term;
}

// The per-octave weights and frequencies of a fractal sum, and their total; the same for every
// sample, so formed once per fill.
struct Octaves {
  std::uint32_t count = 1;
  float weight[kMaxOctaves];
  float frequency[kMaxOctaves];
  float total = 0.0f;
};

Octaves octaves_of(const NoiseOptions& o) {
  Octaves out;
  out.count = std::clamp<std::uint32_t>(o.octaves, 1, kMaxOctaves);
  float weight = 1.0f;
  float f = o.frequency;
  for (std::uint32_t i = 0; i < out.count; ++i) {
    out.weight[i] = weight;
    out.frequency[i] = f;
    out.total = weight + out.total;
    weight = o.gain * weight;
    f = o.lacunarity * f;
  }
  return out;
}

// Position along an axis: origin + spacing * index, the index converted first.
float at(float origin, float spacing, std::size_t index) {
  return origin + spacing * static_cast<float>(index);
}

x4::F4 shaped(Shaping s, x4::F4 v) {
  switch (s) {
    case Shaping::Ridged:
      return 1.0f - (x4::abs(v) + x4::abs(v));
    case Shaping::Billow:
      return (x4::abs(v) + x4::abs(v)) - 1.0f;
    case Shaping::Plain:
      break;
  }
  return v;
}

// fractal_2d of four samples, lane by lane the same operations.
x4::F4 fractal_2d(std::uint64_t seed, const Octaves& oc, Shaping s, x4::F4 x, x4::F4 z) {
  x4::F4 sum = x4::splat(0.0f);
  for (std::uint32_t o = 0; o < oc.count; ++o) {
    const float f = oc.frequency[o];
    const x4::F4 v = shaped(s, x4::simplex_2d(octave_seed(seed, o), x * f, z * f));
    sum = sum + oc.weight[o] * v;
  }
  return sum / oc.total;
}

// fractal_3d of four samples, lane by lane the same operations.
x4::F4 fractal_3d(std::uint64_t seed, const Octaves& oc, Shaping s, x4::F4 x, x4::F4 y, x4::F4 z) {
  x4::F4 sum = x4::splat(0.0f);
  for (std::uint32_t o = 0; o < oc.count; ++o) {
    const float f = oc.frequency[o];
    const x4::F4 v = shaped(s, x4::simplex_3d(octave_seed(seed, o), x * f, y * f, z * f));
    sum = sum + oc.weight[o] * v;
  }
  return sum / oc.total;
}

// The 3D fills, four samples at a time in storage order (a group may span rows; the last one is
// padded with copies of the last sample and only its own lanes are kept); `stretch` divides
// each position when given.
std::expected<void, BufferSizeMismatch> fill_box(std::uint64_t seed, const Grid3& g,
                                                 const NoiseOptions& options, const float* stretch,
                                                 std::span<float> out) {
  const std::size_t n = sample_count(g);
  if (out.size() != n) return std::unexpected(BufferSizeMismatch{out.size(), n});
  const Octaves oc = octaves_of(options);
  const Shaping sh = options.shaping;
  std::size_t ix = 0, iy = 0, iz = 0;  // the next sample's indices
  for (std::size_t k = 0; k < n; k += 4) {
    x4::F4 px, py, pz;
    for (int l = 0; l < 4; ++l) {
      px[l] = at(g.x0, g.step, ix);
      py[l] = at(g.y0, g.step, iy);
      pz[l] = at(g.z0, g.step, iz);
      if (k + l + 1 < n && ++ix == g.nx) {
        ix = 0;
        if (++iy == g.ny) iy = 0, ++iz;
      }
    }
    if (stretch != nullptr) {
      px = px / stretch[0];
      py = py / stretch[1];
      pz = pz / stretch[2];
    }
    const x4::F4 v = fractal_3d(seed, oc, sh, px, py, pz);
    for (std::size_t l = 0; l < 4 && k + l < n; ++l) out[k + l] = v[l];
  }
  return {};
}

}  // namespace

std::size_t sample_count(const Grid2& g) { return checked_product(g.nx, g.nz); }
std::size_t sample_count(const Grid3& g) { return checked_product(checked_product(g.nx, g.ny), g.nz); }

std::string BufferSizeMismatch::message() const {
  return fmt::format("buffer holds {} samples but the region needs {}", held, needed);
}

std::uint64_t lattice_hash(std::uint64_t seed, std::int32_t a, std::int32_t b) {
  return finish_hash(seed ^ (word(a) * kKx) ^ (word(b) * kKy));
}

std::uint64_t lattice_hash(std::uint64_t seed, std::int32_t a, std::int32_t b, std::int32_t c) {
  return finish_hash(seed ^ (word(a) * kKx) ^ (word(b) * kKy) ^ (word(c) * kKz));
}

float simplex_2d(std::uint64_t seed, float x, float y) {
  x = clamp_coord(x);
  y = clamp_coord(y);
  const float s = (x + y) * kF2;
  const std::int32_t i = fp::floor_i32(x + s);
  const std::int32_t j = fp::floor_i32(y + s);
  const float t = static_cast<float>(wrap_add(i, j)) * kG2;
  const float x0 = x - (static_cast<float>(i) - t);
  const float y0 = y - (static_cast<float>(j) - t);
  const std::int32_t i1 = x0 > y0 ? 1 : 0;  // a tie takes (0, 1)
  const std::int32_t j1 = 1 - i1;
  const float x1 = (x0 - static_cast<float>(i1)) + kG2;
  const float y1 = (y0 - static_cast<float>(j1)) + kG2;
  const float x2 = (x0 - 1.0f) + k2G2;
  const float y2 = (y0 - 1.0f) + k2G2;
  const float a = corner_2d(seed, i, j, x0, y0);
  const float b = corner_2d(seed, wrap_add(i, i1), wrap_add(j, j1), x1, y1);
  const float c = corner_2d(seed, wrap_add(i, 1), wrap_add(j, 1), x2, y2);
  return ((a + b) + c) * kScale2;
}

float simplex_3d(std::uint64_t seed, float x, float y, float z) {
  x = clamp_coord(x);
  y = clamp_coord(y);
  z = clamp_coord(z);
  const float s = ((x + y) + z) * kF3;
  const std::int32_t i = fp::floor_i32(x + s);
  const std::int32_t j = fp::floor_i32(y + s);
  const std::int32_t k = fp::floor_i32(z + s);
  const float t = static_cast<float>(wrap_add(wrap_add(i, j), k)) * kG3;
  const float x0 = x - (static_cast<float>(i) - t);
  const float y0 = y - (static_cast<float>(j) - t);
  const float z0 = z - (static_cast<float>(k) - t);
  // Corners 1 and 2 of the simplex that holds the point, by the order of its offsets, without
  // branches: the six cases of the table
  //   x0 >= y0, y0 >= z0           (1,0,0) (1,1,0)   x0 < y0, y0 < z0             (0,0,1) (0,1,1)
  //   x0 >= y0, y0 < z0, x0 >= z0  (1,0,0) (1,0,1)   x0 < y0, y0 >= z0, x0 < z0   (0,1,0) (0,1,1)
  //   x0 >= y0, y0 < z0, x0 < z0   (0,0,1) (1,0,1)   x0 < y0, y0 >= z0, x0 >= z0  (0,1,0) (1,1,0)
  // A NaN offset makes the sum NaN whichever corners it picks.
  const std::int32_t xy = x0 >= y0, yz = y0 >= z0, xz = x0 >= z0;
  const std::int32_t i1 = xy & (yz | xz), j1 = (1 - xy) & yz, k1 = (1 - yz) & (1 - (xy & xz));
  const std::int32_t i2 = xy | (yz & xz), j2 = yz | (1 - xy), k2 = (1 - yz) | ((1 - xy) & (1 - xz));
  const float x1 = (x0 - static_cast<float>(i1)) + kG3;
  const float y1 = (y0 - static_cast<float>(j1)) + kG3;
  const float z1 = (z0 - static_cast<float>(k1)) + kG3;
  const float x2 = (x0 - static_cast<float>(i2)) + k2G3;
  const float y2 = (y0 - static_cast<float>(j2)) + k2G3;
  const float z2 = (z0 - static_cast<float>(k2)) + k2G3;
  const float x3 = (x0 - 1.0f) + 0.5f;
  const float y3 = (y0 - 1.0f) + 0.5f;
  const float z3 = (z0 - 1.0f) + 0.5f;
  const float a = corner_3d(seed, i, j, k, x0, y0, z0);
  const float b = corner_3d(seed, wrap_add(i, i1), wrap_add(j, j1), wrap_add(k, k1), x1, y1, z1);
  const float c = corner_3d(seed, wrap_add(i, i2), wrap_add(j, j2), wrap_add(k, k2), x2, y2, z2);
  const float d = corner_3d(seed, wrap_add(i, 1), wrap_add(j, 1), wrap_add(k, 1), x3, y3, z3);
  return (((a + b) + c) + d) * kScale3;
}

std::expected<void, BufferSizeMismatch> fill_2d(std::uint64_t seed, const Grid2& grid,
                                                const NoiseOptions& options, std::span<float> out) {
  const std::size_t n = sample_count(grid);
  if (out.size() != n) return std::unexpected(BufferSizeMismatch{out.size(), n});
  const Octaves oc = octaves_of(options);
  // Four samples at a time in storage order, as fill_box.
  std::size_t c = 0, r = 0;
  for (std::size_t k = 0; k < n; k += 4) {
    x4::F4 px, pz;
    for (int l = 0; l < 4; ++l) {
      px[l] = at(grid.x0, grid.dx, c);
      pz[l] = at(grid.z0, grid.dz, r);
      if (k + l + 1 < n && ++c == grid.nx) c = 0, ++r;
    }
    const x4::F4 v = fractal_2d(seed, oc, options.shaping, px, pz);
    for (std::size_t l = 0; l < 4 && k + l < n; ++l) out[k + l] = v[l];
  }
  return {};
}

std::expected<void, BufferSizeMismatch> fill_3d(std::uint64_t seed, const Grid3& grid,
                                                const NoiseOptions& options, std::span<float> out) {
  return fill_box(seed, grid, options, nullptr, out);
}

std::expected<void, BufferSizeMismatch> fill_3d_stretched(std::uint64_t seed, const Grid3& grid,
                                                          const NoiseOptions& options,
                                                          const float (&stretch)[3], std::span<float> out) {
  return fill_box(seed, grid, options, stretch, out);
}

std::array<std::int32_t, 256> column_heights(std::uint64_t seed, std::int32_t chunk_x, std::int32_t chunk_z,
                                             const NoiseOptions& options, float amplitude,
                                             std::int32_t base) {
  auto block = [](std::int32_t c) {
    return static_cast<float>(static_cast<std::int32_t>(static_cast<std::uint32_t>(c) * 16u));
  };
  float noise[256];
  // 16 x 16 samples into 256 slots: the fill cannot refuse.
  [[maybe_unused]] const auto filled =
      fill_2d(seed, {16, 16, block(chunk_x), block(chunk_z), 1.0f, 1.0f}, options, noise);
  std::array<std::int32_t, 256> out;
  for (std::size_t k = 0; k < 256; ++k) {
    const auto h = num::saturate<std::int32_t>(noise[k] * amplitude);
    out[k] = static_cast<std::int32_t>(static_cast<std::uint32_t>(h) + static_cast<std::uint32_t>(base));
  }
  return out;
}

}  // namespace ostrel_core::detgen::noise

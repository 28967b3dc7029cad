#pragma once
// Simplex noise over a hashed lattice, 2D and 3D, and its fractal sums over whole grids of
// samples; the interval bounds of the 3D fractal noise over a box. Every function is pure: no
// state, no allocation, no locks. Arithmetic is single precision, one rounding per operation,
// in the order written in noise.cpp, so every machine gets the same bits.

#include <array>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "base/error.hpp"

namespace ostrel_core::detgen::noise {

// How each octave's sample v enters the sum; the value is its stored byte.
enum class Shaping : std::uint8_t {
  Plain = 0,   // v
  Ridged = 1,  // 1 - (|v| + |v|)
  Billow = 2,  // (|v| + |v|) - 1
};

// Fractal options, copied and never kept. The fills use min(max(octaves, 1), 16) octaves; the
// first weighs 1 at `frequency`, each next one `gain` times the weight at `lacunarity` times
// the frequency of the one before.
struct NoiseOptions {
  std::uint32_t octaves = 4;
  float frequency = 0.02f;
  float lacunarity = 2.0f;
  float gain = 0.5f;
  Shaping shaping = Shaping::Plain;
};

inline constexpr std::uint32_t kMaxOctaves = 16;

// A plane of samples: sample (c, r) lies at (x0 + dx * c, z0 + dz * r), stored at r * nx + c.
struct Grid2 {
  std::size_t nx = 0;  // samples along x
  std::size_t nz = 0;  // samples along z
  float x0 = 0.0f;
  float z0 = 0.0f;
  float dx = 1.0f;
  float dz = 1.0f;
};

// A box of samples: sample (ix, iy, iz) lies at (x0, y0, z0) + step * (ix, iy, iz), stored at
// (iz * ny + iy) * nx + ix: x fastest, then y, then z.
struct Grid3 {
  std::size_t nx = 0;
  std::size_t ny = 0;
  std::size_t nz = 0;
  float x0 = 0.0f;
  float y0 = 0.0f;
  float z0 = 0.0f;
  float step = 1.0f;
};

// The samples a grid holds; SIZE_MAX when the product does not fit, which no buffer matches.
std::size_t sample_count(const Grid2& g);
std::size_t sample_count(const Grid3& g);

// A fill whose output does not have exactly one slot per sample.
struct BufferSizeMismatch {
  std::size_t held = 0;    // slots in the buffer
  std::size_t needed = 0;  // samples of the grid

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
  friend bool operator==(const BufferSizeMismatch&, const BufferSizeMismatch&) = default;
};

// A closed interval of values.
struct Interval {
  float low = 0.0f;
  float high = 0.0f;
};

// The least and greatest of `values` by minNum and maxNum: a NaN value loses to any number.
// REQUIRES: `values` is not empty.
Interval hull(std::span<const float> values);

// The largest magnitude one 3D simplex octave is taken to reach (bits 0x40720419).
inline constexpr float kOctaveBound = 3.7815f;

// The lattice hash of a cell: coordinates enter as their 32-bit patterns zero-extended to 64
// bits (-1 is 0xFFFFFFFF). Its low 3 bits pick a 2D gradient, its low 4 bits a 3D one.
std::uint64_t lattice_hash(std::uint64_t seed, std::int32_t a, std::int32_t b);
std::uint64_t lattice_hash(std::uint64_t seed, std::int32_t a, std::int32_t b, std::int32_t c);

// Roughly in [-1, 1]; exactly 0 at the origin. Coordinates are clamped to [-2^22, 2^22].
float simplex_2d(std::uint64_t seed, float x, float y);
float simplex_3d(std::uint64_t seed, float x, float y, float z);

// Fractal sums into `out`, one slot per sample in storage order; octave o uses the seed
// seed ^ (o * 0x9E3779B97F4A7C15). A buffer of another length is refused and left untouched.
std::expected<void, BufferSizeMismatch> fill_2d(std::uint64_t seed, const Grid2& grid,
                                                const NoiseOptions& options, std::span<float> out);
std::expected<void, BufferSizeMismatch> fill_3d(std::uint64_t seed, const Grid3& grid,
                                                const NoiseOptions& options, std::span<float> out);
// As fill_3d with each sample position divided by `stretch` per axis before the frequency.
std::expected<void, BufferSizeMismatch> fill_3d_stretched(std::uint64_t seed, const Grid3& grid,
                                                          const NoiseOptions& options,
                                                          const float (&stretch)[3], std::span<float> out);

// The 256 column heights of chunk column (chunk_x, chunk_z), indexed x + 16 z: fill_2d over the
// chunk's blocks (origin 16 * chunk, wrapping in 32 bits; step 1), each sample times `amplitude`
// cut toward zero (saturating, NaN 0), plus `base` wrapping in 32 bits.
std::array<std::int32_t, 256> column_heights(std::uint64_t seed, std::int32_t chunk_x, std::int32_t chunk_z,
                                             const NoiseOptions& options, float amplitude, std::int32_t base);

// A bound of simplex_3d over the box, or none when the box spans more than 64 skewed lattice
// cells (or an axis has no number at all). Each axis's limits may come in either order.
std::optional<Interval> simplex_3d_bounds(std::uint64_t seed, float x_a, float x_b, float y_a, float y_b,
                                          float z_a, float z_b);
// A bound of what fill_3d produces at any position inside the box (limits in either order).
// Each octave's bound is ordered after its weight, so a negative gain still gives a bound; a
// total weight that is not above 0 gives (-inf, +inf).
Interval fractal_3d_bounds(std::uint64_t seed, const NoiseOptions& options, float x_a, float x_b, float y_a,
                           float y_b, float z_a, float z_b);

}  // namespace ostrel_core::detgen::noise

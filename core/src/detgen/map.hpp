#pragma once
// A map: a persistent square field of single-precision samples laid over a square region of the
// ground plane. Sample (c, r) stands at world block (origin_x + scale*c, origin_z + scale*r) and
// is samples[r * side + c]. Outside its square a map extends flat: a lookup reads the nearest
// edge sample.
//
// Every operation is single precision, one rounding per operation in the order written in
// map.cpp; position differences are 32-bit and wrap; floors saturate and give 0 for NaN. A map
// has no lock: callers that share one hold theirs for the whole of an operation.

#include <array>
#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "detgen/noise.hpp"

namespace ostrel_core::detgen::map {

inline constexpr std::uint32_t kMaxSide = 1024;

// How combine merges another map into this one; the value is its stored byte.
enum class CombineWay : std::uint8_t { Add = 0, Mul = 1, Min = 2, Max = 3 };

enum class MapErrorKind : std::uint8_t {
  SideOutOfRange,  // a side of 0 or above kMaxSide; checked before the scale
  ScaleTooSmall,   // a scale of 0
  ShapeMismatch,   // combine with a map of another side
  BlurTooWide,     // a blur radius at or above the side
};

struct MapError {
  MapErrorKind kind;
  std::uint32_t a = 0;  // SideOutOfRange: the side; ShapeMismatch: this side; BlurTooWide: radius
  std::uint32_t b = 0;  // ShapeMismatch: the other side; BlurTooWide: this side

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
  friend bool operator==(const MapError&, const MapError&) = default;
};

struct Map {
  std::uint32_t side = 1;      // samples along each edge, 1..=kMaxSide
  std::uint32_t scale = 1;     // blocks per sample, at least 1
  std::int32_t origin_x = 0;   // world block x of sample (0, 0)
  std::int32_t origin_z = 0;   // world block z of sample (0, 0)
  std::vector<float> samples;  // side * side, row by row
  std::uint64_t revision = 0;  // raised by every change of samples; never stored

  // A map of zeros at revision 0. The side is checked before the scale; nothing is allocated
  // on failure.
  [[nodiscard]] static std::expected<Map, MapError> create(std::uint32_t side, std::uint32_t scale,
                                                           std::int32_t origin_x, std::int32_t origin_z);

  // The bilinear value at world block (x, z); at a sample's own position that sample exactly.
  float sample(std::int32_t x, std::int32_t z) const;
  // floor(sample) of the 256 columns of chunk column (chunk_x, chunk_z), indexed c + 16 * r.
  // NaN gives 0, the infinities the 32-bit limits.
  std::array<std::int32_t, 256> heightmap(std::int32_t chunk_x, std::int32_t chunk_z) const;
  // A bound of every value sample() gives in the block rectangle between x_a and x_b and between
  // z_a and z_b (each pair in either order): the extremes of the samples it may read, or of the
  // whole map once those pass 4096. NaN samples are passed over; a map of nothing but NaN gives
  // (+inf, -inf).
  noise::Interval range_over(std::int32_t x_a, std::int32_t x_b, std::int32_t z_a, std::int32_t z_b) const;

  // Every sample becomes fractal 2D noise taken at its own world position, times amplitude.
  // The seed is used as given. Allocates nothing.
  void noise(std::uint64_t seed, const noise::NoiseOptions& options, float amplitude);
  // Box blur along rows, then along columns, over 2 * radius + 1 samples with the edge sample
  // repeated. Radius 0 changes nothing (the revision stays); a radius at or above the side is
  // refused before anything changes.
  std::expected<void, MapError> blur(std::uint32_t radius);
  // Merges `other` (never this map itself) sample by sample; another side is refused before
  // anything changes. Scale and origin are not compared. Min and Max are minNum and maxNum.
  std::expected<void, MapError> combine(const Map& other, CombineWay way);
  // Every sample s becomes s + by, by * s, or (with low <= high, neither NaN) low when s < low,
  // then high when high < s; a NaN sample stays NaN. Each raises the revision.
  void offset(float by);
  void scale_by(float by);
  void clamp(float low, float high);
};

}  // namespace ostrel_core::detgen::map

#pragma once
// A map: a persistent square field of single-precision samples laid over a square region of the
// ground plane. Sample (c, r) stands at world block (origin_x + scale*c, origin_z + scale*r) and
// is samples[r * side + c].

#include <cstdint>
#include <expected>
#include <string>
#include <vector>

#include "base/error.hpp"

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
  std::uint32_t side = 1;        // samples along each edge, 1..=kMaxSide
  std::uint32_t scale = 1;       // blocks per sample, at least 1
  std::int32_t origin_x = 0;     // world block x of sample (0, 0)
  std::int32_t origin_z = 0;     // world block z of sample (0, 0)
  std::vector<float> samples;    // side * side, row by row
  std::uint64_t revision = 0;    // raised by every change of samples; never stored

  // A map of zeros at revision 0. Nothing is allocated on failure.
  [[nodiscard]] static std::expected<Map, MapError> create(std::uint32_t side, std::uint32_t scale,
                                                           std::int32_t origin_x,
                                                           std::int32_t origin_z);
};

}  // namespace ostrel_core::detgen::map

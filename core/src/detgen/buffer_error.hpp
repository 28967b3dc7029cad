#pragma once
// Why a chunk buffer's fill or its palette was refused. The texts are what mod authors see.

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/error.hpp"
#include "detgen/density.hpp"
#include "detgen/noise.hpp"

namespace ostrel_core::detgen::buffer {

inline constexpr std::size_t kChunkColumns = 256;
inline constexpr std::size_t kMaxBands = 16;

enum class BufferErrorKind : std::uint8_t {
  Density,           // the fill's density program refused or failed; its own text
  HeightmapColumns,  // a heightmap without exactly kChunkColumns columns
  Size,              // an output buffer without one slot per sample
  TerracedReadsY,    // fill_fluid_terraced's `within` field reads height
};

struct BufferError {
  BufferErrorKind kind;
  density::DensityError density{density::DensityErrorKind::Empty};  // Density
  std::size_t columns = 0;         // HeightmapColumns: the columns the heightmap holds
  noise::BufferSizeMismatch size;  // Size
  std::int32_t height = 0;         // TerracedReadsY: the height the field was compared at

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
};

enum class PaletteErrorKind : std::uint8_t {
  NoBands,          // an empty band list
  TooManyBands,     // more than kMaxBands bands
  ThresholdNaN,     // a band threshold that is NaN
  SharedThreshold,  // two bands with one threshold
};

struct PaletteError {
  PaletteErrorKind kind;
  std::size_t bands = 0;   // TooManyBands
  float threshold = 0.0f;  // SharedThreshold

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
};

}  // namespace ostrel_core::detgen::buffer

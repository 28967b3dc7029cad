#include "detgen/buffer_error.hpp"

#include <fmt/format.h>

#include "base/num.hpp"

namespace ostrel_core::detgen::buffer {

std::string BufferError::message() const {
  switch (kind) {
    case BufferErrorKind::Density:
      return density.message();
    case BufferErrorKind::HeightmapColumns:
      return fmt::format("heightmap holds {} columns but a chunk has {}", columns, kChunkColumns);
    case BufferErrorKind::Size:
      return size.message();
    case BufferErrorKind::TerracedReadsY:
      return fmt::format(
          "fill_fluid_terraced reads `within` on the world plane y = 0.5, and this field answers "
          "differently there than it does over the chunk at y = {} — so it reads height, and the fill "
          "would lay nothing anywhere. Give `within` a field that does not read y.",
          height);
  }
  return "chunk buffer error";
}

std::string PaletteError::message() const {
  switch (kind) {
    case PaletteErrorKind::NoBands:
      return "a palette needs at least one band";
    case PaletteErrorKind::TooManyBands:
      return fmt::format("a palette may hold at most {} bands, not {}", kMaxBands, bands);
    case PaletteErrorKind::ThresholdNaN:
      return "a palette threshold is not a number";
    case PaletteErrorKind::SharedThreshold:
      return fmt::format("two palette bands share the threshold {}", num::format_number(threshold));
  }
  return "palette error";
}

}  // namespace ostrel_core::detgen::buffer

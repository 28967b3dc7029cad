#include "detgen/map.hpp"

#include <fmt/format.h>

namespace ostrel_core::detgen::map {

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

std::expected<Map, MapError> Map::create(std::uint32_t side, std::uint32_t scale,
                                         std::int32_t origin_x, std::int32_t origin_z) {
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

}  // namespace ostrel_core::detgen::map

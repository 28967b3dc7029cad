#include "detgen/schematic.hpp"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace ostrel_core::detgen::buffer {
namespace {

std::int32_t magnitude(std::int32_t v) {
  return v == std::numeric_limits<std::int32_t>::min() ? std::numeric_limits<std::int32_t>::max()
                                                       : std::abs(v);
}

}  // namespace

Schematic Schematic::of(std::vector<StampBlock> blocks) {
  Schematic s;
  for (const StampBlock& b : blocks) {
    s.reach_x = std::max(s.reach_x, magnitude(b.dx));
    s.reach_z = std::max(s.reach_z, magnitude(b.dz));
    s.low_dy = std::min(s.low_dy, b.dy);
    s.high_dy = std::max(s.high_dy, b.dy);
  }
  s.blocks = std::move(blocks);
  return s;
}

}  // namespace ostrel_core::detgen::buffer

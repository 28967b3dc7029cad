// Schematic::turned, built with the core library rather than the detgen target: cell masks turn
// by the inventory's one rule.

#include <limits>

#include "building/inventory/stack.hpp"
#include "detgen/schematic.hpp"

namespace ostrel_core::detgen::buffer {
namespace {

std::int32_t negated(std::int32_t v) {
  return v == std::numeric_limits<std::int32_t>::min() ? std::numeric_limits<std::int32_t>::max() : -v;
}

}  // namespace

std::vector<StampBlock> Schematic::turned(std::uint32_t quarters) const {
  const std::uint32_t q = quarters % 4;
  std::vector<StampBlock> out = blocks;
  for (StampBlock& b : out) {
    const std::int32_t dx = b.dx, dz = b.dz;
    switch (q) {
      case 1:
        b.dx = dz, b.dz = negated(dx);
        break;
      case 2:
        b.dx = negated(dx), b.dz = negated(dz);
        break;
      case 3:
        b.dx = negated(dz), b.dz = dx;
        break;
      default:
        break;
    }
    b.mask = inventory::turned(b.mask, q);
  }
  return out;
}

}  // namespace ostrel_core::detgen::buffer

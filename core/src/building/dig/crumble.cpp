#include "building/dig/crumble.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "detgen/rng.hpp"

namespace ostrel_core::dig {

std::array<std::uint8_t, 27> crumble_order(std::uint64_t seed, coords::BlockPos block,
                                           const std::array<double, 3>& offset) {
  std::array<std::uint8_t, 27> order{};
  std::iota(order.begin(), order.end(), std::uint8_t{0});
  detgen::rng::StreamRng rng(seed, {block.x, block.y, block.z}, kCrumbleLabel);
  for (std::uint64_t n = 27; n >= 2; --n) std::swap(order[n - 1], order[rng.below(n)]);

  const double ax = std::fabs(offset[0]), ay = std::fabs(offset[1]), az = std::fabs(offset[2]);
  const double m = ax <= ay ? ay : ax;
  const int axis = az > m ? 2 : (ax <= ay ? 1 : 0);
  // NaN compares false: a NaN component counts as the negative side.
  const bool toward = offset[static_cast<std::size_t>(axis)] >= 0.0;
  auto key = [&](std::uint8_t cell) {
    const int c = axis == 0 ? cell % 3 : (axis == 1 ? cell / 3 % 3 : cell / 9);
    return toward ? 2 - c : c;
  };
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint8_t a, std::uint8_t b) { return key(a) < key(b); });
  return order;
}

}  // namespace ostrel_core::dig

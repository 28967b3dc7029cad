#pragma once
// FluidLayer: the fluid of one chunk, either empty or the 4096 block states (index
// x + 16y + 256z) with the count of wet ones.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fluid/fluid.hpp"

namespace ostrel_core::fluid::layer {

inline constexpr std::size_t kBlocks = 4096;

class FluidLayer {
 public:
  // An empty layer: no block holds fluid, no buffer.
  FluidLayer() = default;

  // The first 4096 states in index order; missing ones count as 0, and words that are not wet
  // are stored as 0. No wet state gives an empty layer.
  static FluidLayer from_blocks(std::span<const Fluid> states);

  bool empty() const { return wet_ == 0; }
  // Number of wet blocks: 0 when empty, else 1..=4096.
  std::uint32_t wet() const { return wet_; }
  // The 4096 states, or an empty span for an empty layer. Valid until the next set().
  std::span<const Fluid> states() const { return states_; }

  // REQUIRES: index < 4096.
  Fluid get(std::size_t index) const;
  // REQUIRES: each coordinate 0..=15.
  Fluid get(int x, int y, int z) const;

  // Stores `state` (a word that is not wet is stored as 0) and answers whether the layer
  // changed. The buffer is allocated by the first wet block and released by the last.
  // REQUIRES: each coordinate 0..=15.
  bool set(int x, int y, int z, Fluid state);

  friend bool operator==(const FluidLayer&, const FluidLayer&) = default;

 private:
  std::uint32_t wet_ = 0;      // wet states in states_
  std::vector<Fluid> states_;  // empty, or exactly kBlocks states; never all dry
};

}  // namespace ostrel_core::fluid::layer

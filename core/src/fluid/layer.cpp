#include "fluid/layer.hpp"

#include <algorithm>

#include <fmt/format.h>

#include "base/error.hpp"

namespace ostrel_core::fluid::layer {
namespace {

// A position outside the chunk is the caller's bug: stop rather than write past the buffer.
std::size_t local_index(int x, int y, int z) {
  if (x < 0 || x > 15 || y < 0 || y > 15 || z < 0 || z > 15) {
    contract_stop("ostrel_core::fluid::layer", fmt::format("fluid layer position ({}, {}, {}) is not local", x, y, z));
  }
  return static_cast<std::size_t>(x + 16 * y + 256 * z);
}

Fluid stored_form(Fluid state) { return state.is_wet() ? state : Fluid{}; }

}  // namespace

FluidLayer FluidLayer::from_blocks(std::span<const Fluid> states) {
  FluidLayer layer;
  const std::size_t n = std::min(states.size(), kBlocks);
  layer.states_.resize(kBlocks);
  std::uint32_t wet = 0;
  for (std::size_t i = 0; i < n; ++i) {
    const bool is_wet = states[i].is_wet();
    wet += is_wet ? 1 : 0;
    layer.states_[i] = is_wet ? states[i] : Fluid{};
  }
  if (wet == 0) return FluidLayer();
  layer.wet_ = wet;
  return layer;
}

Fluid FluidLayer::get(std::size_t index) const {
  if (index >= kBlocks) {
    contract_stop("ostrel_core::fluid::layer", fmt::format("fluid layer index {} out of range", index));
  }
  return states_.empty() ? Fluid{} : states_[index];
}

Fluid FluidLayer::get(int x, int y, int z) const { return get(local_index(x, y, z)); }

bool FluidLayer::set(int x, int y, int z, Fluid state) {
  const std::size_t i = local_index(x, y, z);
  state = stored_form(state);
  if (states_.empty()) {
    if (!state.is_wet()) return false;
    states_.assign(kBlocks, Fluid{});
    states_[i] = state;
    wet_ = 1;
    return true;
  }
  const Fluid old = states_[i];
  if (old == state) return false;
  if (old.is_wet() && !state.is_wet()) --wet_;
  if (!old.is_wet() && state.is_wet()) ++wet_;
  states_[i] = state;
  if (wet_ == 0) states_ = std::vector<Fluid>();  // release the buffer, not just clear it
  return true;
}

}  // namespace ostrel_core::fluid::layer

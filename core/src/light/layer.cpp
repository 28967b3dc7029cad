#include "light/layer.hpp"

#include <fmt/format.h>

#include "base/error.hpp"

namespace ostrel_core::light::layer {
namespace {

// A position outside the chunk is the caller's bug: stop rather than write past the buffer.
std::size_t local_index(int x, int y, int z) {
  if (x < 0 || x > 15 || y < 0 || y > 15 || z < 0 || z > 15) {
    contract_stop("ostrel_core::light::layer", fmt::format("light layer position ({}, {}, {}) is not local", x, y, z));
  }
  return static_cast<std::size_t>(x + 16 * y + 256 * z);
}

}  // namespace

LightLayer LightLayer::uniform(std::uint16_t value) {
  LightLayer l;
  l.uniform_ = value;
  return l;
}

std::uint16_t LightLayer::get(int x, int y, int z) const {
  const std::size_t i = local_index(x, y, z);
  return values_.empty() ? uniform_ : values_[i];
}

void LightLayer::set(int x, int y, int z, std::uint16_t value) {
  const std::size_t i = local_index(x, y, z);
  if (values_.empty()) {
    if (value == uniform_) return;
    values_.assign(kBlocks, uniform_);
  }
  values_[i] = value;
}

}  // namespace ostrel_core::light::layer

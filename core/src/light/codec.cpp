#include "light/codec.hpp"

#include <algorithm>

namespace ostrel_core::light::codec {
namespace {

std::vector<std::uint8_t> uniform_bytes(std::uint16_t value) {
  std::vector<std::uint8_t> out(1 + 2);
  out[0] = kTagUniform;
  layer_runs::put_u16(&out[1], value);
  return out;
}

}  // namespace

std::vector<std::uint8_t> encode(const layer::LightLayer& layer) {
  if (layer.is_uniform()) return uniform_bytes(layer.uniform_value());
  const auto values = layer.values();
  const auto first_other = std::find_if(values.begin(), values.end(),
                                        [&](std::uint16_t v) { return v != values[0]; });
  if (first_other == values.end()) return uniform_bytes(values[0]);
  return layer_runs::encode(kTagRuns, values, [](std::uint16_t v) { return v; });
}

}  // namespace ostrel_core::light::codec

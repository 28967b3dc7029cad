#include "light/codec.hpp"

#include <algorithm>

namespace ostrel_core::light::codec {
namespace {

void put_u16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

std::vector<std::uint8_t> uniform_bytes(std::uint16_t value) {
  std::vector<std::uint8_t> out{kTagUniform};
  put_u16(out, value);
  return out;
}

}  // namespace

std::vector<std::uint8_t> encode(const layer::LightLayer& layer) {
  if (layer.is_uniform()) return uniform_bytes(layer.uniform_value());
  const auto values = layer.values();
  const auto first_other = std::find_if(values.begin(), values.end(),
                                        [&](std::uint16_t v) { return v != values[0]; });
  if (first_other == values.end()) return uniform_bytes(values[0]);

  std::vector<std::uint8_t> out;
  out.push_back(kTagRuns);
  std::size_t start = 0;
  while (start < values.size()) {
    std::size_t end = start + 1;
    while (end < values.size() && values[end] == values[start]) ++end;
    put_u16(out, static_cast<std::uint16_t>(end - start));
    put_u16(out, values[start]);
    start = end;
  }
  return out;
}

}  // namespace ostrel_core::light::codec

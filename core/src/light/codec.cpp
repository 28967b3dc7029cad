#include "light/codec.hpp"

#include <algorithm>

namespace ostrel_core::light::codec {
namespace {

void put_u16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

std::vector<std::uint8_t> uniform_bytes(std::uint16_t value) {
  std::vector<std::uint8_t> out(1 + 2);
  out[0] = kTagUniform;
  put_u16(&out[1], value);
  return out;
}

}  // namespace

std::vector<std::uint8_t> encode(const layer::LightLayer& layer) {
  if (layer.is_uniform()) return uniform_bytes(layer.uniform_value());
  const auto values = layer.values();
  const auto first_other = std::find_if(values.begin(), values.end(),
                                        [&](std::uint16_t v) { return v != values[0]; });
  if (first_other == values.end()) return uniform_bytes(values[0]);

  // Sized for one run per block, trimmed at the end: no reallocation on the way.
  std::vector<std::uint8_t> out(1 + kRunSize * values.size());
  out[0] = kTagRuns;
  std::uint8_t* p = out.data() + 1;
  std::size_t start = 0;
  while (start < values.size()) {
    std::size_t end = start + 1;
    while (end < values.size() && values[end] == values[start]) ++end;
    put_u16(p, static_cast<std::uint16_t>(end - start));
    put_u16(p + 2, values[start]);
    p += kRunSize;
    start = end;
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  out.shrink_to_fit();  // callers keep the bytes (queues, rows); do not hold 16 KiB each
  return out;
}

}  // namespace ostrel_core::light::codec

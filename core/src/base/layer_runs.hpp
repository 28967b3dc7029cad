#pragma once
// The run form shared by the per-block layer payloads (fluid and light): after the payload's tag
// byte, the maximal runs of equal 16-bit words in block index order, each run a u16 count then
// the u16 word, little-endian.
// Example: 4095 blocks of 0xF000 then one of 0x000F -> FF 0F 00 F0 01 00 0F 00.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "base/assert.hpp"

namespace ostrel_core::layer_runs {

// A run: count (2 bytes) + word (2 bytes).
inline constexpr std::size_t kRunSize = 2 + 2;

inline void put_u16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v & 0xFF);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

inline std::uint16_t get_u16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// `tag`, then the runs of `values`; `word_of(v)` is the u16 a value is written as.
// REQUIRES: fewer than 65536 values.
template <class T, class WordOf>
std::vector<std::uint8_t> encode(std::uint8_t tag, std::span<const T> values, WordOf word_of) {
  OSTREL_ASSERT(values.size() < 65536);
  // Sized for one run per value, trimmed at the end: no reallocation on the way (a first pass
  // counting the runs costs more than the trim).
  std::vector<std::uint8_t> out(1 + kRunSize * values.size());
  out[0] = tag;
  std::uint8_t* p = out.data() + 1;
  std::size_t start = 0;
  while (start < values.size()) {
    std::size_t end = start + 1;
    while (end < values.size() && values[end] == values[start]) ++end;
    put_u16(p, static_cast<std::uint16_t>(end - start));
    put_u16(p + 2, word_of(values[start]));
    p += kRunSize;
    start = end;
  }
  out.resize(static_cast<std::size_t>(p - out.data()));
  out.shrink_to_fit();  // callers keep the bytes (queues, rows); do not hold 16 KiB each
  return out;
}

}  // namespace ostrel_core::layer_runs

#pragma once
// The byte format in which a chunk's light travels to clients (ChunkLight). Light is never
// stored, so there is no reader.
//
// Light payload (little-endian)
//   OFFSET  SIZE  DESCRIPTION
//      0      1   tag: 0 = one value for the whole chunk, 1 = runs
//      1      2   tag 0: the light value of every block
//      1    4 * n tag 1: runs, each a u16 count of blocks (1..=4095) then the u16 light value
//                 they hold; in index order (x + 16y + 256z), covering exactly 4096 blocks
// Examples: every block 0xF000 (uniform or full) is 00 00 F0; darkness with 0x0F00 at index 0
// is 01 01 00 00 0F FF 0F 00 00. An encoding is 3 or 9..=16,385 bytes.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/layer_runs.hpp"
#include "light/layer.hpp"

namespace ostrel_core::light::codec {

inline constexpr std::uint8_t kTagUniform = 0;
inline constexpr std::uint8_t kTagRuns = 1;
// A run: count (2 bytes) + value (2 bytes).
inline constexpr std::size_t kRunSize = layer_runs::kRunSize;

std::vector<std::uint8_t> encode(const layer::LightLayer& layer);

}  // namespace ostrel_core::light::codec

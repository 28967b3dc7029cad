#pragma once
// The one byte format of a chunk's fluid: stored in `chunk_fluid`, sent in ChunkFluid.
//
// Fluid payload (little-endian)
//   OFFSET  SIZE  DESCRIPTION
//      0      1   tag: 0 = no fluid (nothing follows), 1 = runs
//      1    4 * n tag 1: runs, each a u16 count of blocks (1..=4096) then the u16 state they
//                 hold; in index order (x + 16y + 256z), covering exactly 4096 blocks
// Examples: an empty layer is 00; every block 0x0025 is 01 00 10 25 00; one block of 0x0025 at
// index 0, the rest dry, is 01 01 00 25 00 FF 0F 00 00. An encoding is 1 or 5..=16,385 bytes.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <vector>

#include "base/error.hpp"
#include "fluid/layer.hpp"
#include "base/layer_runs.hpp"

namespace ostrel_core::fluid::codec {

inline constexpr std::uint8_t kTagEmpty = 0;
inline constexpr std::uint8_t kTagRuns = 1;
// A run: count (2 bytes) + state (2 bytes).
inline constexpr std::size_t kRunSize = layer_runs::kRunSize;

enum class FluidDecodeErrorKind : std::uint8_t {
  Empty,        // no bytes at all
  UnknownTag,   // byte 0 is neither 0 nor 1
  Truncated,    // 1..=3 bytes left where a run starts
  EmptyRun,     // a run of count 0
  WrongLength,  // runs (or a tag 0 with extra bytes) do not cover exactly 4096 blocks
  NotAState,    // a run's word is neither 0 nor a wet state
};

struct FluidDecodeError {
  FluidDecodeErrorKind kind;
  std::uint8_t tag = 0;         // UnknownTag
  std::size_t covered = 0;      // WrongLength
  std::size_t expected = 0;     // WrongLength
  std::uint16_t value = 0;      // NotAState

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
  // `WrongLength { covered: 4097, expected: 4096 }`
  std::string debug() const;
  friend bool operator==(const FluidDecodeError&, const FluidDecodeError&) = default;
};

std::vector<std::uint8_t> encode(const layer::FluidLayer& layer);
std::expected<layer::FluidLayer, FluidDecodeError> decode(std::span<const std::uint8_t> bytes);

}  // namespace ostrel_core::fluid::codec

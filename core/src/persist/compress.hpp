#pragma once
// One-shot zstd frames: compression at a level, and decompression into a bounded buffer so that
// stored or received bytes cannot make the process allocate more than the caller allows.

#include <cstddef>
#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "base/error.hpp"

namespace ostrel_core::persist {

// A compression dictionary of the world: byte 1 of a chunk blob names it by id.
struct Dictionary {
  std::uint8_t id = 0;              // 1..=255; 0 means "no dictionary" in a blob
  std::vector<std::uint8_t> bytes;  // the raw zstd dictionary
};

inline constexpr int kCompressionLevel = 3;

// One zstd frame holding `data`; the error is the library's sentence.
std::expected<std::vector<std::uint8_t>, TextError> compress(std::span<const std::uint8_t> data,
                                                             const Dictionary* dict = nullptr);

// The content of the one frame in `frame`, refused when it would be larger than `limit` bytes.
// Memory use is bounded by `limit` whatever the frame claims.
std::expected<std::vector<std::uint8_t>, TextError> decompress(std::span<const std::uint8_t> frame,
                                                               std::size_t limit,
                                                               const Dictionary* dict = nullptr);

}  // namespace ostrel_core::persist

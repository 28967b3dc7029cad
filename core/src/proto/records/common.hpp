#pragma once
// The small types every family of wire records shares: hashes, colours, vectors, positions and
// the signature. Plain declarations only; proto/codec.hpp turns them into bytes.

#include <array>
#include <cstdint>

#include "world/coords.hpp"

namespace ostrel_core::proto {

inline constexpr std::uint32_t kProtocolVersion = 90;

using coords::BlockPos;
using coords::ChunkPos;
using coords::SubNodePos;

using Hash = std::array<std::uint8_t, 32>;    // a content hash, 32 raw bytes
using Colour = std::array<std::uint8_t, 4>;   // r, g, b, a
using Rgb = std::array<std::uint8_t, 3>;      // r, g, b
using Vec3f = std::array<float, 3>;

// A 64-byte Ed25519 signature, encoded as a byte string whose count must be exactly 64.
struct Signature {
  std::array<std::uint8_t, 64> bytes{};
  friend bool operator==(const Signature&, const Signature&) = default;
};

}  // namespace ostrel_core::proto

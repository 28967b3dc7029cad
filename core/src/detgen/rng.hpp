#pragma once
// Named random streams: one deterministic generator (xoshiro256++) whose state is a pure function
// of the world seed, a key of three 32-bit integers and a label.
//
// Opening, with G = 0x9E3779B97F4A7C15 and mix the SplitMix64 finaliser:
//   h   = FNV-1a 64 of the label bytes
//   acc = mix((seed ^ h) + G)
//   acc ^= mix((acc ^ k) + G) for k = x, y, z, each the 32-bit pattern zero-extended (-1 is
//          0x00000000FFFFFFFF)
//   s0..s3 = mix(acc + G), mix(acc + 2G), mix(acc + 3G), mix(acc + 4G)
// Worked example: seed 0, key (0, 0, 0), label "abc" gives s0 = 0xD12B76472ADDC03B and first
// outputs 0x08B7D947DF5B948D, 0x08558DDB83590743, 0x3DEF5F434DEC09B8.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>

namespace ostrel_core::detgen::rng {

// FNV-1a 64 of `bytes` (offset basis 0xCBF29CE484222325, prime 0x100000001B3). Also the hash of
// a density noise node's stream name.
constexpr std::uint64_t fnv1a64(std::string_view bytes) {
  std::uint64_t h = 0xCBF29CE484222325ull;
  for (char c : bytes) {
    h ^= static_cast<std::uint8_t>(c);
    h *= 0x100000001B3ull;
  }
  return h;
}

// The SplitMix64 finaliser.
constexpr std::uint64_t mix(std::uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

// A plain value: copying it copies the stream's position. Never shared between threads.
class StreamRng {
 public:
  StreamRng(std::uint64_t seed, std::array<std::int32_t, 3> key, std::string_view label);

  std::uint64_t next_u64();
  // Uniform in 0..bound-1 (Lemire's multiply-and-reject). A bound of 0 returns 0 and draws
  // nothing; any other bound draws at least once, 1 included.
  std::uint64_t below(std::uint64_t bound);
  // True when bit 63 of the next output is set.
  bool next_bool() { return (next_u64() >> 63) != 0; }
  // Uniform in [0, 1 - 2^-24]: the top 24 bits of the next output times 2^-24.
  float next_f32();

  std::span<const std::uint64_t, 4> state() const { return s_; }

 private:
  std::array<std::uint64_t, 4> s_;
};

}  // namespace ostrel_core::detgen::rng

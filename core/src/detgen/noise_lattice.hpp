#pragma once
// Constants of the simplex lattice, shared by the noise and its bounds. Private to detgen.

#include <bit>
#include <cstdint>

namespace ostrel_core::detgen::noise::lattice {

constexpr float f32(std::uint32_t bits) { return std::bit_cast<float>(bits); }

inline constexpr float kClamp = f32(0x4A800000);  // 2^22
inline constexpr float kF2 = f32(0x3EBB67AE);     // 2D skew, (sqrt 3 - 1) / 2
inline constexpr float kG2 = f32(0x3E58658C);     // 2D unskew, (3 - sqrt 3) / 6
inline constexpr float k2G2 = f32(0x3ED8658C);
inline constexpr float kF3 = f32(0x3EAAAAAB);  // 3D skew 1/3, also 2 * G3
inline constexpr float kG3 = f32(0x3E2AAAAB);  // 3D unskew 1/6
inline constexpr float k2G3 = kF3;
inline constexpr float kR2 = f32(0x3F000000);      // 0.5, 2D radius squared
inline constexpr float kR3 = f32(0x3F19999A);      // 0.6, 3D radius squared
inline constexpr float kScale2 = f32(0x42340000);  // 45
inline constexpr float kScale3 = f32(0x42000000);  // 32

inline constexpr std::uint64_t kKx = 0x9E3779B97F4A7C15ull;  // also steps the octave seed
inline constexpr std::uint64_t kKy = 0xC2B2AE3D27D4EB4Full;
inline constexpr std::uint64_t kKz = 0x165667B19E3779F9ull;
inline constexpr std::uint64_t kKm = 0xBF58476D1CE4E5B9ull;

inline constexpr float kGrad2[8][2] = {{1, 1}, {-1, 1}, {1, -1}, {-1, -1}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}};
inline constexpr float kGrad3[16][3] = {
    {1, 1, 0}, {-1, 1, 0}, {1, -1, 0}, {-1, -1, 0}, {1, 0, 1}, {-1, 0, 1}, {1, 0, -1}, {-1, 0, -1},
    {0, 1, 1}, {0, -1, 1}, {0, 1, -1}, {0, -1, -1}, {1, 1, 0}, {0, -1, 1}, {-1, 1, 0}, {0, -1, -1}};

// The 32-bit pattern of a lattice coordinate, zero-extended.
constexpr std::uint64_t word(std::int32_t v) { return static_cast<std::uint32_t>(v); }

// i + j in 32 bits, wrapping.
constexpr std::int32_t wrap_add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

constexpr std::uint64_t finish_hash(std::uint64_t h) {
  h ^= h >> 29;
  h *= kKm;
  return h ^ (h >> 32);
}

// Clamp to [-kClamp, kClamp]; NaN passes through.
constexpr float clamp_coord(float v) { return v < -kClamp ? -kClamp : (kClamp < v ? kClamp : v); }

// The seed of octave o.
constexpr std::uint64_t octave_seed(std::uint64_t seed, std::uint32_t o) { return seed ^ (o * kKx); }

}  // namespace ostrel_core::detgen::noise::lattice

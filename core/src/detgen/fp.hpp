#pragma once
// Float helpers shared by the generation math. Every value here is IEEE single precision with one
// rounding per operation; these helpers fix the few choices IEEE leaves open.

#include <bit>
#include <cstdint>

#include "base/num.hpp"

namespace ostrel_core::detgen::fp {

// minNum: a NaN operand loses to the other; of two equal operands (+0 and -0) the first wins.
// Written as one compare and one select so that loops over buffers vectorise.
inline float min_num(float a, float b) { return (b < a || a != a) ? b : a; }
// maxNum, with the same rules.
inline float max_num(float a, float b) { return (b > a || a != a) ? b : a; }

// The signed 32-bit n with n <= v < n + 1, saturating at the limits; NaN gives 0.
inline std::int32_t floor_i32(float v) { return num::saturate_floor<std::int32_t>(v); }

// The value with its sign bit cleared (NaN stays NaN).
inline float clear_sign(float v) {
  return std::bit_cast<float>(std::bit_cast<std::uint32_t>(v) & 0x7FFFFFFFu);
}

// Bit patterns, for comparisons that must tell -0 from +0 and one NaN from another.
inline std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }
inline float from_bits(std::uint32_t b) { return std::bit_cast<float>(b); }

}  // namespace ostrel_core::detgen::fp

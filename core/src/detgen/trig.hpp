#pragma once
// Table trigonometry: sine, cosine and arctangent from fixed tables with linear interpolation,
// for every result that must not depend on the platform's mathematics library (gaze, mounts,
// the sky, generation). A whole turn is 1024 steps. Pure functions; nothing is allocated.

#include <bit>
#include <cstdint>

namespace ostrel_core::detgen::trig {

inline constexpr float kTau = std::bit_cast<float>(std::uint32_t{0x40C90FDB});     // 6.2831855
inline constexpr float kHalfPi = std::bit_cast<float>(std::uint32_t{0x3FC90FDB});  // 1.5707964
inline constexpr float kPi = std::bit_cast<float>(std::uint32_t{0x40490FDB});      // 3.1415927

// Radians in, [-1, 1] out; an infinite or NaN angle gives +0.
float sin(float x);
// sin(x + kHalfPi), the sum formed first.
float cos(float x);
// The angle of the vector (x, y) in [-kPi, kPi]. A non-finite argument, or both zero, gives 0;
// a y of -0 counts as not negative, so atan2(-0, -1) is kPi.
float atan2(float y, float x);

}  // namespace ostrel_core::detgen::trig

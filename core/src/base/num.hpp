#pragma once
// Float-to-integer conversion and number text, shared by every module.

#include <algorithm>
#include <cmath>
#include <concepts>
#include <cstdint>
#include <limits>
#include <string>

namespace ostrel_core::num {

// The one float-to-integer conversion: truncates toward zero, saturates at the integer's
// bounds, and gives 0 for NaN. Never use a plain cast from a float.
template <std::integral I, std::floating_point F>
constexpr I saturate(F v) {
  if (std::isnan(v)) return 0;
  constexpr auto lo = std::numeric_limits<I>::min();
  constexpr auto hi = std::numeric_limits<I>::max();
  // Compare in long double: it holds every 64-bit integer bound exactly on x86-64.
  const long double t = std::trunc(static_cast<long double>(v));
  if (t <= static_cast<long double>(lo)) return lo;
  if (t >= static_cast<long double>(hi)) return hi;
  return static_cast<I>(t);
}

// Floor, then saturate (coordinates: -0.5 lies in block -1).
template <std::integral I, std::floating_point F>
constexpr I saturate_floor(F v) {
  return saturate<I>(std::floor(v));
}

// A 64-bit integer held to the 32-bit range.
constexpr std::int32_t clamp_i32(std::int64_t v) {
  return static_cast<std::int32_t>(
      std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// The shortest text that reads back as the same value, never in exponent form:
// 1.5 -> "1.5", 1e20 -> "100000000000000000000", 2.0 -> "2", NaN -> "NaN", inf -> "inf".
std::string format_number(double v);
// As above for a single-precision value: 0.1f -> "0.1".
std::string format_number(float v);

}  // namespace ostrel_core::num

#include "detgen/trig.hpp"

#include <algorithm>
#include <cmath>

#include "base/num.hpp"
#include "detgen/trig_tables.hpp"

namespace ostrel_core::detgen::trig {
namespace {

float sin_quarter(std::uint32_t i) { return std::bit_cast<float>(kSinQuarterBits[i]); }
float atan_unit(std::uint32_t i) { return std::bit_cast<float>(kAtanUnitBits[i]); }

// Arctangent of r in [0, 1] from the table.
float atan_of_ratio(float r) {
  const float t = r * 256.0f;
  const auto i = num::saturate<std::uint32_t>(t);
  const std::uint32_t k = std::min<std::uint32_t>(i, 256);
  const float f = t - static_cast<float>(k);
  const float a = atan_unit(k);
  return a + f * (atan_unit(std::min<std::uint32_t>(i, 255) + 1) - a);
}

}  // namespace

float sin(float x) {
  if (!std::isfinite(x)) return 0.0f;
  float r = std::fmod(x, kTau);  // exact, with the sign of x
  if (r < 0.0f) r = r + kTau;
  const float t = (r / kHalfPi) * 256.0f;
  // t lies in [0, 1024]; 1024 (r rounded up to kTau) is quarter 0, step 0.
  const auto i = num::saturate<std::uint32_t>(t);
  const float f = t - static_cast<float>(i);
  const std::uint32_t q = (i >> 8) & 3;
  const std::uint32_t k = i & 255;
  float a;
  float b;
  if (q == 0 || q == 2) {
    a = sin_quarter(k);
    b = sin_quarter(k + 1);
  } else {
    a = sin_quarter(256 - k);
    b = sin_quarter(255 - k);
  }
  const float v = a + f * (b - a);
  return q < 2 ? v : -v;
}

float cos(float x) { return sin(x + kHalfPi); }

float atan2(float y, float x) {
  if (!std::isfinite(y) || !std::isfinite(x) || (y == 0.0f && x == 0.0f)) return 0.0f;
  const float ay = std::fabs(y);
  const float ax = std::fabs(x);
  float a =
      ay <= ax ? atan_of_ratio(std::min(ay / ax, 1.0f)) : kHalfPi - atan_of_ratio(std::min(ax / ay, 1.0f));
  if (x < 0.0f) a = kPi - a;
  if (y < 0.0f) a = -a;
  return a;
}

}  // namespace ostrel_core::detgen::trig

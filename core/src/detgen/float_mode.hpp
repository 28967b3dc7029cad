#pragma once
// The floating-point check every thread that simulates or generates runs before anything else:
// generation agrees across machines only where subnormal results are kept.

#include <cstdint>
#include <expected>
#include <string>

#include "base/error.hpp"

namespace ostrel_core::detgen {

// The smallest normal single, halved, came out as something other than its exact subnormal half:
// the thread flushes subnormals (FTZ) or treats them as zero (DAZ).
struct NotIeeeMode {
  std::uint32_t observed = 0;  // bits of the product

  std::string message() const;
  const ErrorSource* source() const { return nullptr; }
};

inline constexpr std::uint32_t kSmallestNormalBits = 0x00800000;
inline constexpr std::uint32_t kHalfSmallestNormalBits = 0x00400000;

// Multiplies the smallest normal single by 0.5 at run time on the calling thread and compares
// the product with 0x00400000.
std::expected<void, NotIeeeMode> check_float_mode();

}  // namespace ostrel_core::detgen

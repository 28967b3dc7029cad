#include "detgen/float_mode.hpp"

#include <fmt/format.h>

#include <bit>

namespace ostrel_core::detgen {

std::string NotIeeeMode::message() const {
  return fmt::format(
      "this thread's FPU is in flush-to-zero or denormals-are-zero mode: halving the smallest normal f32 "
      "gave {:#010x}, expected {:#010x}. Subnormal results are being silently replaced with zero, so "
      "simulation on this thread will NOT match other machines. Audio backends and GPU drivers set this "
      "mode process-wide; simulation must never run on a thread owned by one. See "
      "docs/float-determinism.md.",
      observed, kHalfSmallestNormalBits);
}

std::expected<void, NotIeeeMode> check_float_mode() {
  // Volatile reads keep the compiler from folding the product: it must happen on this thread.
  volatile std::uint32_t smallest = kSmallestNormalBits;
  volatile float half = 0.5f;
  const float product = std::bit_cast<float>(static_cast<std::uint32_t>(smallest)) * half;
  const auto got = std::bit_cast<std::uint32_t>(product);
  if (got != kHalfSmallestNormalBits) return std::unexpected(NotIeeeMode{got});
  return {};
}

}  // namespace ostrel_core::detgen

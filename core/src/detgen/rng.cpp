#include "detgen/rng.hpp"

#include <bit>

namespace ostrel_core::detgen::rng {
namespace {

constexpr std::uint64_t kGolden = 0x9E3779B97F4A7C15ull;  // the SplitMix64 increment

__extension__ using U128 = unsigned __int128;  // g++ and clang both have it

}  // namespace

StreamRng::StreamRng(std::uint64_t seed, std::array<std::int32_t, 3> key, std::string_view label) {
  std::uint64_t acc = mix((seed ^ fnv1a64(label)) + kGolden);
  for (std::int32_t k : key) {
    const std::uint64_t word = static_cast<std::uint32_t>(k);  // zero-extended, never sign-extended
    acc ^= mix((acc ^ word) + kGolden);
  }
  for (std::uint64_t i = 0; i < 4; ++i) s_[i] = mix(acc + (i + 1) * kGolden);
}

std::uint64_t StreamRng::next_u64() {
  const std::uint64_t result = std::rotl(s_[0] + s_[3], 23) + s_[0];
  const std::uint64_t t = s_[1] << 17;
  s_[2] ^= s_[0];
  s_[3] ^= s_[1];
  s_[1] ^= s_[2];
  s_[0] ^= s_[3];
  s_[2] ^= t;
  s_[3] = std::rotl(s_[3], 45);
  return result;
}

std::uint64_t StreamRng::below(std::uint64_t bound) {
  if (bound == 0) return 0;
  const std::uint64_t threshold = (0 - bound) % bound;  // (2^64 - bound) mod bound
  for (;;) {
    const U128 product = static_cast<U128>(next_u64()) * bound;
    if (static_cast<std::uint64_t>(product) >= threshold) return static_cast<std::uint64_t>(product >> 64);
  }
}

float StreamRng::next_f32() {
  // Below 2^24, so the conversion and the scaling are exact.
  return static_cast<float>(next_u64() >> 40) * 0x1p-24f;
}

}  // namespace ostrel_core::detgen::rng

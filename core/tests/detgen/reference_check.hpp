#pragma once
// Compares the noise with the samples of the independent Python reference
// (reference/noise_reference.py), bit for bit. Shared by the unit tests and detgen_golden.

#include <fmt/format.h>

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "detgen/noise.hpp"

namespace ostrel_core::detgen::test_reference {

#include "detgen/reference/noise_samples.inc"

inline float f32(std::uint32_t b) { return std::bit_cast<float>(b); }
inline std::uint32_t bits(float v) { return std::bit_cast<std::uint32_t>(v); }

inline noise::NoiseOptions options_of(const RefOptions& o) {
  return {o.octaves, f32(o.frequency), f32(o.lacunarity), f32(o.gain),
          static_cast<noise::Shaping>(o.shaping)};
}

template <std::size_t N>
void compare_fill(const char* name, const std::vector<float>& got, const std::uint32_t (&want)[N],
                  std::vector<std::string>& out) {
  if (got.size() != N) {
    out.push_back(fmt::format("{}: {} samples, the reference has {}", name, got.size(), N));
    return;
  }
  for (std::size_t k = 0; k < N; ++k) {
    if (bits(got[k]) != want[k])
      out.push_back(fmt::format("{}[{}]: {:08X}, want {:08X}", name, k, bits(got[k]), want[k]));
  }
}

// One line per sample that differs from the reference; empty when all agree.
inline std::vector<std::string> reference_mismatches() {
  std::vector<std::string> out;
  for (const auto& c : kRefSimplex2) {
    const float got = noise::simplex_2d(c.seed, f32(c.x), f32(c.y));
    if (bits(got) != c.want) {
      out.push_back(fmt::format("simplex_2d({:#x}, {}, {}) = {:08X}, want {:08X}", c.seed, f32(c.x), f32(c.y),
                                bits(got), c.want));
    }
  }
  for (const auto& c : kRefSimplex3) {
    const float got = noise::simplex_3d(c.seed, f32(c.x), f32(c.y), f32(c.z));
    if (bits(got) != c.want) {
      out.push_back(fmt::format("simplex_3d({:#x}, {}, {}, {}) = {:08X}, want {:08X}", c.seed, f32(c.x),
                                f32(c.y), f32(c.z), bits(got), c.want));
    }
  }
  {
    const noise::Grid2 g{kRefFill2Shape[0],      kRefFill2Shape[1],      f32(kRefFill2Place[0]),
                         f32(kRefFill2Place[1]), f32(kRefFill2Place[2]), f32(kRefFill2Place[3])};
    std::vector<float> got(noise::sample_count(g));
    if (!noise::fill_2d(kRefFillSeed, g, options_of(kRefFill2Options), got))
      out.push_back("fill_2d refused its grid");
    compare_fill("fill_2d", got, kRefFill2, out);
  }
  {
    const noise::Grid3 g{kRefFill3Shape[0],      kRefFill3Shape[1],      kRefFill3Shape[2],
                         f32(kRefFill3Place[0]), f32(kRefFill3Place[1]), f32(kRefFill3Place[2]),
                         f32(kRefFill3Place[3])};
    std::vector<float> got(noise::sample_count(g));
    if (!noise::fill_3d(kRefFillSeed, g, options_of(kRefFill3Options), got))
      out.push_back("fill_3d refused its grid");
    compare_fill("fill_3d", got, kRefFill3, out);
  }
  {
    const noise::Grid3 g{kRefFill3sShape[0],      kRefFill3sShape[1],      kRefFill3sShape[2],
                         f32(kRefFill3sPlace[0]), f32(kRefFill3sPlace[1]), f32(kRefFill3sPlace[2]),
                         f32(kRefFill3sPlace[3])};
    const float stretch[3] = {f32(kRefFill3sStretch[0]), f32(kRefFill3sStretch[1]),
                              f32(kRefFill3sStretch[2])};
    std::vector<float> got(noise::sample_count(g));
    if (!noise::fill_3d_stretched(kRefFillSeed, g, options_of(kRefFill3sOptions), stretch, got)) {
      out.push_back("fill_3d_stretched refused its grid");
    }
    compare_fill("fill_3d_stretched", got, kRefFill3s, out);
  }
  return out;
}

}  // namespace ostrel_core::detgen::test_reference

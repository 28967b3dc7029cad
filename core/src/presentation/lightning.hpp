#pragma once
// A drawn lightning bolt. Clients build the same jagged path from the same seed.
//
// Wire form: from (3 x f64), to (3 x f64), seed (varint), colour r g b and width (4 x f32),
// branches (1 byte), ticks (varint).

#include <array>
#include <cstdint>
#include <tuple>

namespace ostrel_core::lightning {

struct Lightning {
  std::array<double, 3> from{};             // top of the bolt, world blocks
  std::array<double, 3> to{};               // where it ends, world blocks
  std::uint64_t seed = 0;
  std::array<float, 3> colour{0.85f, 0.8f, 1.0f};
  float width = 0.4f;                       // blocks
  std::uint8_t branches = 3;                // forks, at most 8
  std::uint16_t ticks = 8;                  // how long it shows, 1..200

  static constexpr auto fields() {
    return std::tuple{&Lightning::from,  &Lightning::to,       &Lightning::seed, &Lightning::colour,
                      &Lightning::width, &Lightning::branches, &Lightning::ticks};
  }
  friend bool operator==(const Lightning&, const Lightning&) = default;
};

}  // namespace ostrel_core::lightning

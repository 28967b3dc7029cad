#pragma once
// A drawn lightning bolt. Clients build the same jagged path from the same seed.
//
// Wire form: from (3 x f64), to (3 x f64), seed (varint), colour r g b and width (4 x f32),
// branches (1 byte), ticks (varint).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "identity/identity.hpp"

namespace ostrel_core::lightning {

inline constexpr double kCoordinateLimit = 64096.0;  // each coordinate, blocks
inline constexpr double kMaxLength = 4096.0;         // from `from` to `to`, blocks

struct Lightning {
  std::array<double, 3> from{};  // top of the bolt, world blocks
  std::array<double, 3> to{};    // where it ends, world blocks
  std::uint64_t seed = 0;
  std::array<float, 3> colour{0.85f, 0.8f, 1.0f};
  float width = 0.4f;         // blocks
  std::uint8_t branches = 3;  // forks, at most 8
  std::uint16_t ticks = 8;    // how long it shows, 1..200

  static constexpr auto fields() {
    return std::tuple{&Lightning::from,  &Lightning::to,       &Lightning::seed, &Lightning::colour,
                      &Lightning::width, &Lightning::branches, &Lightning::ticks};
  }
  friend bool operator==(const Lightning&, const Lightning&) = default;
};

// What the script engine hands the atmosphere service for one bolt; it never leaves the server.
struct LightningRequest {
  std::string domain = "overworld";  // the domain of `from`
  Lightning lightning;
  float radius = 256.0f;                       // reach from `from`, 0..1024
  std::optional<identity::PlayerUuid> player;  // when present, only this player may be told
};

// Clamps, in order: `from` (each -64096..64096, non-finite 0), `to` (the same, non-finite: the
// clamped `from` coordinate), the length (a bolt longer than 4096 blocks keeps its direction and
// is cut to 4096), colour (each 0..2, non-finite 0.85, 0.8, 1.0), width (0..8, non-finite 0.4),
// branches (at most 8), ticks (1..200), radius (0..1024, non-finite 256). Domain, seed and player
// pass unchanged.
[[nodiscard]] LightningRequest sanitise_lightning(LightningRequest r);

// The seed of a bolt whose mod gave none: SplitMix64's finaliser over the mod's count of
// unseeded calls so far, then over the bits of each coordinate as the mod gave it (`from` x, y,
// z, then `to` x, y, z). Two calls between the same points differ; one call is one bolt for
// every client.
[[nodiscard]] std::uint64_t engine_seed(std::uint64_t calls_before, const std::array<double, 3>& from,
                                        const std::array<double, 3>& to);

}  // namespace ostrel_core::lightning

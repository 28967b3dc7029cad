#pragma once
// Particle bursts and badges as clients receive them.
//
// Burst on the wire: pos (3 x f64, 24 bytes), count (varint), colour (4 bytes), size, lifetime,
// velocity x y z, spread, area x y z, gravity (10 x f32, 40 bytes), collide (1 byte), texture
// (00, or 01 and 32 hash bytes).
// Badge on the wire: entity (varint), picture (32 bytes), count (1 byte), seconds, size (f32),
// colour (4 bytes).

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>

#include "identity/identity.hpp"

namespace ostrel_core::particle {

using Hash = std::array<std::uint8_t, 32>;
using Colour = std::array<std::uint8_t, 4>;  // r, g, b, a; 255 is full
using Vec3f = std::array<float, 3>;

inline constexpr std::uint16_t kMaxBurstCount = 256;

struct Burst {
  std::array<double, 3> pos{};        // centre, world blocks
  std::uint16_t count = 0;            // particles, 0..256 once sanitised
  Colour colour{255, 255, 255, 255};
  float size = 0.1f;                  // blocks across, 0..4
  float lifetime = 1.0f;              // seconds, 0..30
  Vec3f velocity{};                   // blocks a second, each -64..64
  float spread = 0.0f;                // random extra speed, 0..64
  Vec3f area{};                       // half extents of the start box, each 0..16
  float gravity = 0.0f;               // blocks/s^2 downward, -64..64
  bool collide = true;                // vanishes on reaching a solid cell
  std::optional<Hash> texture;        // picture drawn instead of the plain dot

  static constexpr auto fields() {
    return std::tuple{&Burst::pos,    &Burst::count,    &Burst::colour, &Burst::size,
                      &Burst::lifetime, &Burst::velocity, &Burst::spread, &Burst::area,
                      &Burst::gravity, &Burst::collide, &Burst::texture};
  }
  friend bool operator==(const Burst&, const Burst&) = default;
};

// A row of pictures over one entity; count 0 takes the entity's badge down.
struct Badge {
  std::uint64_t entity = 0;
  Hash picture{};
  std::uint8_t count = 1;     // icons, 0..16
  float seconds = 2.0f;       // 0..30
  float size = 0.4f;          // blocks across, 0..4
  Colour colour{255, 255, 255, 255};

  static constexpr auto fields() {
    return std::tuple{&Badge::entity, &Badge::picture, &Badge::count, &Badge::seconds, &Badge::size, &Badge::colour};
  }
  friend bool operator==(const Badge&, const Badge&) = default;
};

// What the particle service receives for one burst.
struct ParticleRequest {
  std::string domain;
  Burst burst;
  float radius = 32.0f;                          // blocks from burst.pos, 0..128
  std::optional<identity::PlayerUuid> player;    // when present, only this player may be told
};

// What the particle service receives for one badge; game.show_over clamps it as it builds it.
struct BadgeRequest {
  Badge badge;
  float radius = 32.0f;                          // 0..128
  std::optional<identity::PlayerUuid> player;
};

// The clamp of one presentation float: a non-finite input gives `non_finite`; otherwise raise to
// `lo`, then cap at `hi` (-0.0 is not below 0 and stays).
[[nodiscard]] float clamp_field(float v, float lo, float hi, float non_finite);

// The burst's share of the particle sanitiser: non-finite coordinates become 0, count is capped
// at 256, and each float is clamped (non-finite first, to size 0.1, lifetime 1, the rest 0).
// Colour, collide and texture pass unchanged.
[[nodiscard]] Burst sanitise_burst(Burst b);
// The burst as above, and the radius clamped 0..128 (non-finite: 32). Domain and player pass.
[[nodiscard]] ParticleRequest sanitise(ParticleRequest r);

// The particle service. Counts are of the players the burst or badge was queued for.
class Access {
 public:
  virtual ~Access() = default;
  virtual std::uint32_t emit(const ParticleRequest& request) = 0;
  virtual std::uint32_t show_over(const BadgeRequest& request) = 0;
};

}  // namespace ostrel_core::particle

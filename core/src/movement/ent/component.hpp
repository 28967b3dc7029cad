#pragma once
// The parts an entity is made of. Positions are anchored to a chunk: a `ChunkPos` plus a local
// position in cells (48 to a chunk, 3 to a block), so no world-space float grows large.
//
// Stored form of each component in the record encoding:
//   Transform  chunk x, y, z (zigzag varints), local x, y, z, yaw, pitch (five LE f32)
//   Health     current, max (u32 varints)
//   Nametag    variant index (varint): 0 then a string, 1 then 32 raw bytes
//   Owner      32 raw bytes
// Example: Transform{chunk (-1, 0, 2), local (0, 0, 0), yaw 0, pitch 0}
//   -> 01 00 04, then 20 zero bytes.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <variant>

#include "world/coords.hpp"
#include "identity/identity.hpp"
#include "building/inventory/stack.hpp"

namespace ostrel_core::ent::component {

using identity::PlayerUuid;

struct Transform {
  coords::ChunkPos chunk;        // the chunk the entity is anchored to
  std::array<float, 3> local{};  // feet centre, cells from the chunk's minimum corner
  float yaw = 0.0f;              // radians
  float pitch = 0.0f;            // radians

  // The chunk-anchored place of a world point given in blocks; yaw and pitch 0. Finiteness is
  // the caller's to check. Per axis: q = v / 16 rounded to f32, chunk = floor(q) saturated,
  // local = (v - 16 chunk) * 3 rounded to f32; a point a rounding step below a chunk border may
  // land in the next chunk with a local slightly below 0.
  static Transform from_world(double x, double y, double z);
  // "Transform { chunk: (1, 2, 3), local: [0.5, 1, 2], yaw: 0, pitch: 0 }".
  std::string debug() const;

  static constexpr auto fields() {
    return std::tuple{&Transform::chunk, &Transform::local, &Transform::yaw, &Transform::pitch};
  }
  friend bool operator==(const Transform&, const Transform&) = default;
};

struct Health {
  std::uint32_t current = 0;
  std::uint32_t max = 0;
  static constexpr auto fields() { return std::tuple{&Health::current, &Health::max}; }
  friend bool operator==(const Health&, const Health&) = default;
};

// A literal label somebody set.
struct NametagText {
  std::string text;
  static constexpr auto fields() { return std::tuple{&NametagText::text}; }
  friend bool operator==(const NametagText&, const NametagText&) = default;
};
// The player's current display name, resolved when the entity comes into view.
struct NametagPlayer {
  PlayerUuid uuid{};
  static constexpr auto fields() { return std::tuple{&NametagPlayer::uuid}; }
  friend bool operator==(const NametagPlayer&, const NametagPlayer&) = default;
};
using Nametag = std::variant<NametagText, NametagPlayer>;

struct Owner {
  PlayerUuid uuid{};
  static constexpr auto fields() { return std::tuple{&Owner::uuid}; }
  friend bool operator==(const Owner&, const Owner&) = default;
};

// What an entity holds; copies are deep (Stack owns its cells and detail).
struct Hands {
  std::optional<inventory::Stack> main;
  std::optional<inventory::Stack> off;
  friend bool operator==(const Hands&, const Hands&) = default;
};

struct Rgb {
  std::uint8_t r = 255;
  std::uint8_t g = 255;
  std::uint8_t b = 255;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

// A timed flash colour over the tint.
struct TintFlash {
  Rgb colour;
  std::uint16_t total = 1;  // ticks, never 0
  std::uint16_t left = 1;   // ticks, <= total
  friend bool operator==(const TintFlash&, const TintFlash&) = default;
};

}  // namespace ostrel_core::ent::component

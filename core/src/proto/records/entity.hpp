#pragma once
// Entities and players as clients see them: item stacks, what an entity holds, spawns and moves,
// what a player rides, and a player's abilities. Material ids are the world's stored ids. Each
// record declares its fields once, in wire order.
//
// Worked examples:
//   StackDef{material 12, count 5, no shape, detail or cells}  -> 0C 05 00 00 00
//   StackDef{1, 2, shape 0x7FFFFFF, detail "a", no cells}      -> 01 02 FF FF FF 3F 01 01 61 00

#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "proto/records/common.hpp"

namespace ostrel_core::proto {

// One item stack as the client sees it.
struct StackDef {
  std::uint16_t material = 0;           // world id; 1 (engine:unknown) when the world cannot name it
  std::uint32_t count = 0;              // items
  std::uint32_t shape = 0;              // 27-bit occupancy of a cut stack, 0 when none
  std::optional<std::string> detail;
  std::vector<std::uint16_t> cells;     // empty, or 27 world ids (0 for an empty cell)

  static constexpr auto fields() {
    return std::tuple{&StackDef::material, &StackDef::count, &StackDef::shape, &StackDef::detail,
                      &StackDef::cells};
  }
  friend bool operator==(const StackDef&, const StackDef&) = default;
};

struct Collider {
  float width = 0.0f;
  float height = 0.0f;
  static constexpr auto fields() { return std::tuple{&Collider::width, &Collider::height}; }
  friend bool operator==(const Collider&, const Collider&) = default;
};

// What an entity holds: main hand, then off hand.
struct Hands {
  std::optional<StackDef> main;
  std::optional<StackDef> off;
  static constexpr auto fields() { return std::tuple{&Hands::main, &Hands::off}; }
  friend bool operator==(const Hands&, const Hands&) = default;
};

struct EntityDef {
  std::uint64_t id = 0;
  ChunkPos chunk;
  Vec3f local{};                    // cells within the chunk
  Vec3f velocity{};
  std::uint8_t yaw = 0;             // a full turn is 256
  std::int8_t pitch = 0;            // +-127 for +-90 degrees
  std::uint8_t anim = 0;
  std::optional<std::string> model;
  std::optional<Collider> collider;
  std::optional<StackDef> item;     // the stack an item entity is
  Hands hands;
  std::optional<std::string> name_tag;
  Rgb colour{};
  static constexpr auto fields() {
    return std::tuple{&EntityDef::id,    &EntityDef::chunk, &EntityDef::local,    &EntityDef::velocity,
                      &EntityDef::yaw,   &EntityDef::pitch, &EntityDef::anim,     &EntityDef::model,
                      &EntityDef::collider, &EntityDef::item, &EntityDef::hands, &EntityDef::name_tag,
                      &EntityDef::colour};
  }
  friend bool operator==(const EntityDef&, const EntityDef&) = default;
};

struct EntityDelta {
  std::uint64_t id = 0;
  ChunkPos chunk;
  Vec3f local{};
  Vec3f velocity{};
  std::uint8_t yaw = 0;
  std::int8_t pitch = 0;
  std::uint8_t anim = 0;
  Rgb colour{};
  static constexpr auto fields() {
    return std::tuple{&EntityDelta::id,  &EntityDelta::chunk, &EntityDelta::local, &EntityDelta::velocity,
                      &EntityDelta::yaw, &EntityDelta::pitch, &EntityDelta::anim,  &EntityDelta::colour};
  }
  friend bool operator==(const EntityDelta&, const EntityDelta&) = default;
};

struct EntityHands {
  std::uint64_t id = 0;
  Hands hands;
  static constexpr auto fields() { return std::tuple{&EntityHands::id, &EntityHands::hands}; }
  friend bool operator==(const EntityHands&, const EntityHands&) = default;
};

// What the player rides, as its own client sees it.
struct Riding {
  std::uint64_t mount = 0;
  ChunkPos chunk;                   // the mount's chunk
  Vec3f local{};                    // the mount's position in cells within that chunk
  Vec3f velocity{};                 // cells per tick
  bool on_ground = false;
  std::uint8_t jump_cooldown = 0;
  Vec3f seat{};                     // seat offset from the mount's feet, cells, at yaw 0
  float width = 0.0f;               // the mount's collider, cells
  float height = 0.0f;
  float speed = 0.0f;
  static constexpr auto fields() {
    return std::tuple{&Riding::mount,     &Riding::chunk, &Riding::local, &Riding::velocity,
                      &Riding::on_ground, &Riding::jump_cooldown, &Riding::seat, &Riding::width,
                      &Riding::height,    &Riding::speed};
  }
  friend bool operator==(const Riding&, const Riding&) = default;
};

struct AbilitiesDef {
  bool fly = false;
  float speed = 1.0f;
  bool operator_fly = false;
  bool sprint = false;
  float gravity = 1.0f;
  static constexpr auto fields() {
    return std::tuple{&AbilitiesDef::fly, &AbilitiesDef::speed, &AbilitiesDef::operator_fly,
                      &AbilitiesDef::sprint, &AbilitiesDef::gravity};
  }
  friend bool operator==(const AbilitiesDef&, const AbilitiesDef&) = default;
};

}  // namespace ostrel_core::proto

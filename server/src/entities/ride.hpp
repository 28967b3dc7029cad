#pragma once
// Ride: what a connected player rides, kept in the player's simulation record and never saved.

#include <array>
#include <cstdint>
#include <string>

#include "movement/ent.hpp"
#include "world/coords.hpp"

namespace ostrel_server::mount {

struct Ride {
  std::string domain;  // the mount's domain when boarded
  ostrel_core::ent::EntityId mount;
  std::array<float, 2> mount_size{};      // collider width and height, cells
  std::array<float, 3> mount_local{};     // cells within mount_chunk, as of its last step
  std::array<float, 3> mount_velocity{};  // cells per tick
  std::uint8_t mount_jump_cooldown = 0;
  bool mount_on_ground = false;
  std::array<float, 3> seat{};  // from the mount's feet, cells, for yaw 0
  ostrel_core::coords::ChunkPos mount_chunk;
  float mount_speed = 1.0f;
  bool sneak_dismounts = true;
  friend bool operator==(const Ride&, const Ride&) = default;
};

}  // namespace ostrel_server::mount

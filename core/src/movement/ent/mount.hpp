#pragma once
// Mounts as scripts ask for them: the seat options, the boarding answers and the seat turned
// with the mount's facing. Riding itself lives with the server's player records.

#include <array>
#include <cstdint>
#include <optional>

namespace ostrel_core::ent::mount {

// Boarding answers, in code order; the script surface turns them into these texts.
enum class Boarding : std::uint8_t {
  NotConnected = 0,   // "not connected"
  NoSuchEntity = 1,   // "no such entity"
  APlayer = 2,        // "a player"
  NoCollider = 3,     // "no collider"
  AnotherDomain = 4,  // "another domain"
  AlreadyRiding = 5,  // "already riding"
  Ridden = 6,         // "ridden"
  Seated = 255,
};

struct MountOptions {
  // The seat's offset from the mount's feet in cells for a mount facing yaw 0; absent: on top
  // of its box.
  std::optional<std::array<float, 3>> seat;
  bool sneak_dismounts = true;
};

// The seat (x, y, z) turned by `yaw` radians with the table sine and cosine; a seat with x and
// z both 0 is returned as it is.
std::array<float, 3> seat_offset(const std::array<float, 3>& seat, float yaw);

}  // namespace ostrel_core::ent::mount

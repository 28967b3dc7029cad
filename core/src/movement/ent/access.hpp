#pragma once
// Patch: a script's changes to one entity. Each field left empty keeps the entity's value; a
// present field that is not acceptable (a non-finite position, a negative speed) is skipped.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "movement/ent.hpp"

namespace ostrel_core::ent::access {

// Starts a flash of `ticks` ticks, or clears the running one when ticks is 0.
struct FlashChange {
  component::Rgb colour;
  std::uint16_t ticks = 0;
};

struct Patch {
  std::optional<std::array<double, 3>> pos;      // blocks; a teleport, no sweep
  std::optional<std::array<float, 3>> velocity;  // cells per tick
  std::optional<float> yaw;                      // radians
  std::optional<float> pitch;                    // radians
  std::optional<phys::Intent> drive;
  std::optional<float> speed;           // clamped to 16
  std::optional<std::uint32_t> health;  // current health, capped at max
  std::optional<std::uint8_t> anim;
  std::optional<component::Rgb> tint;
  std::optional<FlashChange> flash;
  std::optional<std::vector<std::uint8_t>> opaque;

  // Writes every present and acceptable field; true when any was written (a value equal to
  // the old one counts). Health on an entity without health is not written.
  bool apply(Entity& entity) const;
};

}  // namespace ostrel_core::ent::access

#pragma once
// Movement values shared by bodies and entities: a body's size and one tick of movement input.
// Plain values, copied freely.

#include <cstdint>
#include <tuple>

namespace ostrel_core::phys {

enum class Gait : std::uint8_t { Walk = 0, Sprint = 1, Sneak = 2 };
constexpr std::uint32_t wire_variants(Gait) { return 3; }

// One tick of movement input. Only the direction of the walk vector matters; length 0 stands
// still. The zero intent (walk 0, 0, walking gait, no jump, no fly) is the default.
struct Intent {
  float walk_x = 0.0f;  // requested horizontal direction, cells, any length
  float walk_z = 0.0f;
  Gait gait = Gait::Walk;
  bool jump = false;  // jump on the ground, swim up in fluid, climb when flying
  bool fly = false;
  friend bool operator==(const Intent&, const Intent&) = default;
};

// A body's box: the side of its square footprint and its height, in cells.
struct Shape {
  float width = 0.0f;   // cells
  float height = 0.0f;  // cells
  static constexpr auto fields() { return std::tuple{&Shape::width, &Shape::height}; }
  friend bool operator==(const Shape&, const Shape&) = default;
};

}  // namespace ostrel_core::phys

#pragma once
// Movement values shared by bodies and entities: a body's size, one tick of movement input, the
// state a movement step carries and the tuning it runs with. Plain values, copied freely.
//
// Units: cells (a third of a block) and ticks (20 a second). A body's position is the centre
// of its feet, relative to a chunk origin its owner chooses.

#include <array>
#include <bit>
#include <cstdint>
#include <string>
#include <tuple>

#include "world/coords.hpp"

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
  // "Shape { width: 1.8, height: 5.4 }".
  std::string debug() const;
  friend bool operator==(const Shape&, const Shape&) = default;
};

// A player's body: 0.6 x 1.8 blocks.
inline constexpr Shape kPlayerShape{1.8f, 5.4f};

using Vec3 = std::array<float, 3>;  // x, y, z
// "[0.5, 1, 2]".
std::string debug_vec(const Vec3& v);

inline constexpr float kGap = 1.0f / 1024.0f;       // 0.0009765625: how far short of a wall a body stops
inline constexpr float kFootProbe = 1.0f / 512.0f;  // 0.001953125: depth of the layer under the feet

// An axis-aligned box in cells.
struct Aabb {
  Vec3 min{};
  Vec3 max{};
  // The box of a body of `width` x `height` whose feet centre is `feet`:
  // (x - w/2, y, z - w/2) to (x + w/2, y + h, z + w/2).
  static Aabb of_body(const Vec3& feet, float width, float height);
  // "Aabb { min: [0, 1, 2], max: [1.8, 6.4, 3.8] }".
  std::string debug() const;
  friend bool operator==(const Aabb&, const Aabb&) = default;
};

// A position re-measured from the chunk that holds it. On each axis k = floor(p / 48), formed in
// f32 (trunc(p / 48), less one when p / 48 lies below it); when k is not 0 the chunk moves by k
// and the local coordinate becomes p + k * -48. The chunk is left in 64 bits for the caller's
// range check; k is saturated to 32 bits, and a coordinate that is not a number stays where it
// is. Example: chunk 3, local 48.25 -> chunk 4, local 0.25; local -0.5 -> chunk 2, local 47.5.
struct Anchored {
  std::array<std::int64_t, 3> chunk{};
  Vec3 local{};
};
Anchored reanchor(const coords::ChunkPos& chunk, const Vec3& local);

// What one movement step reads and returns.
struct Body {
  Vec3 position{};                 // cells from the caller's chunk origin; the feet centre
  Vec3 velocity{};                 // cells per tick
  std::uint8_t jump_cooldown = 0;  // ticks before the body may jump again
  bool on_ground = false;          // the last step ended standing on something
  friend bool operator==(const Body&, const Body&) = default;
};

// The movement constants. Speeds in cells per tick, accelerations in cells per tick per tick.
// With these values the steady speed on level ground, keep * push / (1 - keep), is the gait's
// cap for walk and sprint; the sneak cap lies below its steady speed.
struct MoveTuning {
  float gravity = 0.24f;                                 // off the vertical velocity each tick out of fluid
  float terminal_fall = 11.76f;                          // fastest fall out of fluid: 49 gravities
  float jump_speed = std::bit_cast<float>(0x3FABBAE3u);  // 1.3416408, sqrt(1.8)
  float walk_speed = std::bit_cast<float>(0x3F251EB9u);  // 0.64500004, one step above 0.645
  float sprint_speed = 0.84f;
  float sneak_speed = 0.195f;
  float fly_factor = 2.5f;   // speeds and pushes while flying
  float ground_keep = 0.7f;  // share of horizontal velocity kept per tick, ground and flight
  float air_keep = 0.91f;    // share kept per tick in the air
  float ground_push = std::bit_cast<float>(0x3E8D880Cu);  // 0.27642858 = 0.645 * 0.3 / 0.7
  float sprint_push = 0.36f;                              // 0.84 * 0.3 / 0.7
  float air_push = 0.06f;
  float step_height = 1.0f;     // highest step climbed without a jump; reach of the snap down
  float buoyancy = 1.25f;       // gravity scaled by 1 - s * buoyancy at submersion s
  float fluid_keep = 0.8f;      // keep share approached in fluid; vertical drag 1 - s * (1 - keep)
  float swim_up = 0.03375f;     // upward push per unit of submersion while jumping in fluid
  float sneak_sink = 0.135f;    // downward push per unit of submersion while sneaking in fluid
  float fluid_speed = 0.3f;     // horizontal cap approached in fluid
  float fluid_push = 0.075f;    // horizontal push approached in fluid
  float fluid_terminal = 0.9f;  // fall cap approached in fluid
  float breach_speed = std::bit_cast<float>(0x3F89624Fu);  // 1.0733126: a head out rises 2.4
  std::uint8_t jump_cooldown = 20;                         // ticks between two jumps

  // Walk, sprint and sneak speed and ground, sprint and air push times `m`, unless m is
  // exactly 1. Gravity, the fly factor and the fluid fields stay.
  MoveTuning with_speed(float m) const;
  // Gravity times `m`, unless m is exactly 1.
  MoveTuning with_gravity(float m) const;

  friend bool operator==(const MoveTuning&, const MoveTuning&) = default;
};

}  // namespace ostrel_core::phys

#include "support/body_trace.hpp"

#include <fmt/format.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <span>

#include "base/blake3.hpp"
#include "base/num.hpp"
#include "detgen/trig.hpp"
#include "entities/population.hpp"
#include "movement/ent/mount.hpp"
#include "movement/ent/replicate.hpp"
#include "movement/sight.hpp"
#include "movement/phys/crowd.hpp"
#include "movement/phys/ray.hpp"
#include "movement/phys/step.hpp"
#include "movement/phys/swim.hpp"
#include "support/voxel_world.hpp"

namespace ostrel_server::test {

namespace {

namespace phys = ostrel_core::phys;
namespace replicate = ostrel_core::ent::replicate;
using ostrel_core::coords::ChunkPos;
using ostrel_core::ent::Entity;
using ostrel_core::ent::EntityId;
using ostrel_core::test::VoxelWorld;
using phys::Gait;
using phys::Intent;

constexpr ostrel_core::material::MaterialId kStone = 2;
constexpr ostrel_core::material::MaterialId kIce = 3;

// Along +x from the start: floor (surface at cell y 3), a one-cell step at x 30 that ends in a
// one-cell ledge at x 60, ice from x 63 to 80, a pool from x 84 to 92 three cells deep with
// water above its floor, and past x 95 a chunk that is not in memory.
VoxelWorld course() {
  VoxelWorld w;
  w.air({-1, -1, -1}, {1, 1, 1});
  w.blocks({-16, 0, -16}, {31, 0, 31}, kStone);
  w.cells({30, 3, 0}, {59, 3, 47}, kStone);
  w.blocks({21, 0, 0}, {26, 0, 15}, kIce);
  w.blocks({28, 0, 1}, {30, 0, 4}, ostrel_core::material::kAir);
  w.blocks({28, -1, 1}, {30, -1, 4}, kStone);
  w.pour({28, 0, 1}, {30, 0, 4}, 1, 27);
  w.pour({28, 1, 1}, {30, 1, 4}, 1, 6);
  return w;
}

class StateHash {
 public:
  void u8(std::uint8_t v) { h_.update(std::span<const std::uint8_t>(&v, 1)); }
  void u32(std::uint32_t v) {
    const std::uint8_t b[4] = {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                               static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    h_.update(b);
  }
  void u64(std::uint64_t v) {
    u32(static_cast<std::uint32_t>(v));
    u32(static_cast<std::uint32_t>(v >> 32));
  }
  void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
  // Every NaN hashes alike: its payload is not part of the state.
  void f32(float v) { u32(std::isnan(v) ? 0x7FC00000u : std::bit_cast<std::uint32_t>(v)); }
  void vec(const std::array<float, 3>& v) {
    for (float c : v) f32(c);
  }
  void chunk(const ChunkPos& c) {
    i32(c.x);
    i32(c.y);
    i32(c.z);
  }
  std::string hex() const {
    std::string out;
    for (std::uint8_t b : h_.finalize()) out += fmt::format("{:02x}", b);
    return out;
  }

 private:
  ostrel_core::blake3::Hasher h_;
};

Intent player_input(int tick) {
  const auto walk = [](float x, float z, Gait g = Gait::Walk, bool jump = false, bool fly = false) {
    return Intent{x, z, g, jump, fly};
  };
  if (tick < 20) return {};
  if (tick < 40) return walk(1.0f, 0.0f);
  if (tick < 50) return walk(1.0f, 0.1f, Gait::Walk, true);
  if (tick < 60) return walk(1.0f, 0.0f, Gait::Sneak);
  if (tick < 90) return walk(1.0f, 0.0f, Gait::Sprint);
  if (tick < 110) return {};                                  // slides on across the ice
  if (tick < 160) return walk(1.0f, 0.0f);                    // into the pool
  if (tick < 180) return {};                                  // floats
  if (tick < 195) return walk(0.0f, 0.0f, Gait::Walk, true);  // swims up and breaches
  if (tick < 205) return walk(0.0f, 0.0f, Gait::Sneak);       // sinks
  if (tick < 300) return walk(1.0f, -0.05f, Gait::Sprint, tick % 37 == 0);
  if (tick < 330) return walk(0.0f, 0.0f, Gait::Walk, true, true);
  if (tick < 350) return walk(-1.0f, 0.0f, Gait::Walk, false, true);
  if (tick < 370) return walk(0.0f, 0.0f, Gait::Sneak, false, true);
  return walk(-0.5f, -1.0f, Gait::Sprint);
}

Intent walker_drive(int tick) {
  if (tick < 100) return Intent{1.0f, 0.3f};
  if (tick < 200) return Intent{-1.0f, 0.5f, Gait::Sprint};
  if (tick < 300) return Intent{0.0f, 0.0f, Gait::Walk, true};
  return Intent{0.0f, -1.0f, Gait::Sneak};
}

// What a rider asks of the mount, and where the rider looks.
Intent ride_input(int tick) {
  return Intent{0.2f, 1.0f, tick < 200 ? Gait::Walk : Gait::Sprint, tick % 25 == 0};
}

Entity mob(ChunkPos chunk, phys::Vec3 local, phys::Shape shape, const char* source) {
  Entity e;
  e.transform.chunk = chunk;
  e.transform.local = local;
  e.collider = shape;
  e.source = source;
  return e;
}

// Facings in turns: a full sweep in 1/48 steps, both ways round, and values far past a turn.
std::vector<float> facings() {
  std::vector<float> out;
  for (int k = -96; k <= 96; ++k) out.push_back(static_cast<float>(k) / 48.0f);
  for (float v : {0.001f, -0.0003f, 0.2499999f, 0.25000003f, 7.3f, -1234.567f, 1.0e6f, -3.0e7f}) out.push_back(v);
  return out;
}

// Seats (cells, for yaw 0) turned by mount yaws in radians, as a rider is seated.
std::string seat_sweep() {
  constexpr std::array<std::array<float, 3>, 6> kSeats{{
      {0.0f, 0.0f, 3.0f}, {0.0f, 4.5f, 0.0f}, {1.5f, 3.0f, -0.75f},
      {-2.25f, 2.4f, 1.2f}, {0.1f, 0.0f, 0.0f}, {48.0f, 6.0f, -47.5f},
  }};
  StateHash h;
  for (const auto& seat : kSeats) {
    for (float turns : facings()) {
      h.vec(ostrel_core::ent::mount::seat_offset(seat, turns * -ostrel_core::detgen::trig::kTau));
    }
  }
  return "seat " + h.hex();
}

std::string look_sweep() {
  StateHash h;
  for (float yaw : facings()) {
    for (int j = -16; j <= 16; ++j) h.vec(ostrel_core::sight::look_direction(yaw, static_cast<float>(j) / 64.0f));
  }
  for (float pitch : facings()) h.vec(ostrel_core::sight::look_direction(0.125f, pitch));
  return "look " + h.hex();
}

// Aims from eyes along the course: the cell each look hits within reach, how far the ray runs
// to enter it, and how far to enter each of three boxes standing near the eye.
std::string aim_sweep(const VoxelWorld& world, const phys::voxels::Terrain& rules) {
  StateHash h;
  const phys::voxels::Voxels v(world, rules, &world, ChunkPos{0, 0, 0});
  for (float x : {6.0f, 29.5f, 45.25f, 88.0f, 93.7f}) {
    const phys::Vec3 eye{x, 3.0f + ostrel_core::sight::kEyeHeight, 7.4f};
    const std::array<phys::Aabb, 3> boxes{{
        {{eye[0] + 2.0f, 3.0f, eye[2] - 0.6f}, {eye[0] + 3.2f, 5.7f, eye[2] + 0.6f}},
        {{eye[0] - 0.5f, 3.0f, eye[2] + 5.0f}, {eye[0] + 0.5f, 4.0f, eye[2] + 6.0f}},
        {{eye[0] - 9.0f, 2.0f, eye[2] - 9.0f}, {eye[0] - 7.8f, 8.0f, eye[2] - 7.8f}},
    }};
    for (int k = 0; k < 48; ++k) {
      for (int j = -12; j <= 12; j += 3) {
        const auto dir =
            ostrel_core::sight::look_direction(static_cast<float>(k) / 48.0f, static_cast<float>(j) / 48.0f);
        const auto hit = phys::ray::cast(v, eye, dir, ostrel_core::sight::kReach);
        h.u8(hit ? 1 : 0);
        if (hit) {
          h.u8(hit->axis);
          for (int a = 0; a < 3; ++a) h.i32(hit->cell[a]);
          for (int a = 0; a < 3; ++a) h.i32(hit->normal[a]);
          const phys::Vec3 lo{static_cast<float>(hit->cell[0]), static_cast<float>(hit->cell[1]),
                              static_cast<float>(hit->cell[2])};
          const auto d = phys::ray::enter(eye, dir, phys::Aabb{lo, {lo[0] + 1.0f, lo[1] + 1.0f, lo[2] + 1.0f}});
          h.f32(d.value_or(-1.0f));
        }
        for (const auto& box : boxes) h.f32(phys::ray::enter(eye, dir, box).value_or(-1.0f));
      }
    }
  }
  return "aim " + h.hex();
}

}  // namespace

std::vector<std::string> body_trace() {
  const VoxelWorld world = course();
  const auto rules = phys::voxels::Terrain::of({}, {{kIce, 0.0f}});
  const ent::DomainView view{world, &world, rules};
  const phys::MoveTuning tuning;

  ent::Population population;
  Entity walker = mob({0, 0, 0}, {11.0f, 3.0f, 11.0f}, {1.2f, 2.7f}, "zoo");
  Entity mount = mob({0, 0, 0}, {20.0f, 3.0f, 14.0f}, {2.4f, 3.0f}, "zoo");
  mount.speed = 1.5f;
  // As a damaged stored row might hold it: a velocity that is not a number, a flash, a fast
  // walker high in the air.
  Entity odd = mob({0, 0, 0}, {30.0f, 40.0f, 30.0f}, {1.0f, 1.0f}, "odd");
  odd.velocity = {std::numeric_limits<float>::quiet_NaN(), 0.0f, 0.25f};
  odd.speed = 2.0f;
  odd.flash = ostrel_core::ent::component::TintFlash{{255, 0, 0}, 30, 30};
  const EntityId walker_id = population.spawn(walker);
  const EntityId mount_id = population.spawn(mount);
  population.spawn(odd);

  ostrel_core::identity::PlayerUuid uuid;
  uuid.bytes[0] = 0x42;
  ChunkPos chunk{0, 0, 0};
  phys::Body body{{10.0f, 3.0f, 10.5f}, {}, 0, true};
  std::uint8_t mount_cooldown = 0;
  replicate::Tracker tracker;
  const std::function<bool(EntityId)> all = [](EntityId) { return true; };

  std::vector<std::string> lines;
  for (int tick = 0; tick < kTraceTicks; ++tick) {
    StateHash h;
    h.u32(static_cast<std::uint32_t>(tick));
    population.clear_driven();
    population.get_mut(walker_id)->drive = walker_drive(tick);

    // Crowd pushes: the player first, then every entity with a collider that is not a body.
    std::vector<phys::crowd::Occupant> occupants{
        {chunk, body.position, phys::kPlayerShape.height, phys::kPlayerShape.width, true, 0}};
    std::vector<EntityId> pushed;
    for (EntityId id : population.entities().ids()) {
      const Entity& e = *population.get(id);
      if (!e.collider || population.is_body(id)) continue;
      occupants.push_back(
          {e.transform.chunk, e.transform.local, e.collider->height, e.collider->width, true, 0});
      pushed.push_back(id);
    }
    const auto pushes = phys::crowd::separate(occupants);
    body.velocity[0] += pushes[0][0];
    body.velocity[2] += pushes[0][2];
    for (std::size_t i = 0; i < pushed.size(); ++i) population.push(pushed[i], pushes[i + 1][0], pushes[i + 1][2]);

    // The player's body.
    {
      const phys::voxels::Voxels v(world, rules, &world, chunk);
      body = phys::step_shaped(v, body, player_input(tick), tuning, phys::kPlayerShape.width,
                               phys::kPlayerShape.height);
      const float submerged = phys::swim::submersion(
          v, phys::Aabb::of_body(body.position, phys::kPlayerShape.width, phys::kPlayerShape.height));
      h.f32(submerged);
      h.u8(v.touched_absent() ? 1 : 0);
      h.u8(static_cast<std::uint8_t>(v.absent().size()));
      for (const ChunkPos& c : v.absent()) h.chunk(c);
      const phys::Anchored anchored = phys::reanchor(chunk, body.position);
      chunk = {static_cast<std::int32_t>(anchored.chunk[0]), static_cast<std::int32_t>(anchored.chunk[1]),
               static_cast<std::int32_t>(anchored.chunk[2])};
      body.position = anchored.local;
      ostrel_core::ent::component::Transform t;
      t.chunk = chunk;
      t.local = body.position;
      t.yaw = static_cast<float>(tick) * 0.05f;
      t.pitch = static_cast<float>(tick % 40) * 0.05f - 1.0f;
      population.sync_player(uuid, t, ent::Motion{body.velocity, submerged, 0.0f, body.on_ground},
                             static_cast<std::uint8_t>(tick / 50), {});
    }
    h.chunk(chunk);
    h.vec(body.position);
    h.vec(body.velocity);
    h.u8(body.jump_cooldown);
    h.u8(body.on_ground ? 1 : 0);

    // The ride.
    if (tick >= 150 && tick < 260) {
      const auto driven =
          population.drive(mount_id, "overworld", view, ride_input(tick), 1.0f, mount_cooldown);
      h.u8(driven ? 1 : 0);
      if (driven) {
        mount_cooldown = driven->jump_cooldown;
        h.chunk(driven->chunk);
        h.vec(driven->local);
        h.vec(driven->velocity);
        h.u8(driven->jump_cooldown);
        h.u8(driven->on_ground ? 1 : 0);
      }
    }

    population.tick("overworld", view);
    for (EntityId id : population.entities().ids()) {
      const Entity& e = *population.get(id);
      h.u64(id.value);
      h.chunk(e.transform.chunk);
      h.vec(e.transform.local);
      h.f32(e.transform.yaw);
      h.f32(e.transform.pitch);
      h.vec(e.velocity);
      h.u8(e.on_ground ? 1 : 0);
      h.u32(e.flash ? e.flash->left : 0xFFFFFFFFu);
    }

    // What the player is sent.
    const auto body_id = population.body_of(uuid);
    const replicate::Update u =
        tracker.update(population.entities(), replicate::View{chunk, 8, 12, body_id}, all);
    h.u32(static_cast<std::uint32_t>(u.spawns.size()));
    for (const auto& s : u.spawns) h.u64(s.id.value);
    h.u32(static_cast<std::uint32_t>(u.gone.size()));
    for (EntityId id : u.gone) h.u64(id.value);
    h.u32(static_cast<std::uint32_t>(u.moves.size()));
    for (const auto& d : u.moves) {
      h.u64(d.id.value);
      h.chunk(d.chunk);
      h.vec(d.local);
      h.u8(d.yaw);
      h.u8(static_cast<std::uint8_t>(d.pitch));
      h.u8(d.anim);
      h.u8(d.colour.r);
      h.u8(d.colour.g);
      h.u8(d.colour.b);
    }
    lines.push_back(fmt::format("{} {}", tick, h.hex()));
  }
  lines.push_back(seat_sweep());
  lines.push_back(look_sweep());
  lines.push_back(aim_sweep(world, rules));
  return lines;
}

}  // namespace ostrel_server::test

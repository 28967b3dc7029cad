#include "movement/phys/step.hpp"

#include <algorithm>
#include <cmath>

#include "base/assert.hpp"
#include "base/num.hpp"
#include "movement/phys/swim.hpp"

namespace ostrel_core::phys {

namespace {

std::int64_t cell_floor(float v) { return num::saturate_floor<std::int32_t>(v); }

float gait_speed(const MoveTuning& t, Gait g) {
  switch (g) {
    case Gait::Sprint:
      return t.sprint_speed;
    case Gait::Sneak:
      return t.sneak_speed;
    case Gait::Walk:
      break;
  }
  return t.walk_speed;
}

// Whether the point at the top of the body, less kGap, is at or above the fluid's surface. A
// head block without fluid counts as out.
bool head_out(const Voxels& v, const Vec3& position, float height) {
  const float top = position[1] + height - kGap;
  const std::int64_t bx = swim::block_of(position[0]);
  const std::int64_t by = swim::block_of(top);
  const std::int64_t bz = swim::block_of(position[2]);
  const fluid::Fluid f{v.fluid(bx, by, bz)};
  if (!f.is_wet()) return true;
  return top >= swim::surface_of(v, bx, by, bz, f);
}

// Vertical velocity in fluid at submersion s > 0.
float swim_vertical(const Voxels& v, const Body& b, const Intent& in, const MoveTuning& t, float s,
                    float height) {
  const bool out = head_out(v, b.position, height);
  float vy = b.velocity[1] - t.gravity * (1.0f - s * t.buoyancy);
  const float drag = 1.0f - s * (1.0f - t.fluid_keep);
  if (in.jump) {
    vy = (vy + s * t.swim_up) * drag;
    if (out && vy < t.breach_speed) vy = t.breach_speed;
  } else {
    if (in.gait == Gait::Sneak) vy -= s * t.sneak_sink;
    vy *= drag;
  }
  return std::max(vy, -(t.terminal_fall + s * (t.fluid_terminal - t.terminal_fall)));
}

// The friction factor of the cell under the centre of the feet; 1 for an absent chunk, air, a
// passable material or a material without one.
float friction_under(const Voxels& v, const Vec3& p) {
  if (v.terrain().friction.empty()) return 1.0f;
  const auto m = v.material(cell_floor(p[0]), cell_floor(p[1] - kFootProbe), cell_floor(p[2]));
  if (!m || *m == 0 || v.terrain().is_passable(*m)) return 1.0f;
  return v.terrain().friction_of(*m);
}

struct Horizontal {
  float keep = 0.0f;
  float push = 0.0f;
  float cap = 0.0f;
  bool grounded = false;
};

// The unit walk direction, or (0, 0) for a vector that is zero, not finite or not a number.
std::array<float, 2> walk_direction(const Intent& in) {
  if (!std::isfinite(in.walk_x) || !std::isfinite(in.walk_z)) return {0.0f, 0.0f};
  const float sq = in.walk_x * in.walk_x + in.walk_z * in.walk_z;
  if (!(sq > 0.0f)) return {0.0f, 0.0f};
  const float len = std::sqrt(sq);
  return {in.walk_x / len, in.walk_z / len};
}

}  // namespace

namespace {

// The downward snap after a grounded step that lost the ground: a floor within step_height
// below is stepped down onto, unless the floor resumes within one body width ahead (a hole
// narrower than the body), where the body keeps the height it began the step at.
void snap_down(const Voxels& v, Body& body, const MoveTuning& t, float width, float height, float start_y) {
  const Aabb box = Aabb::of_body(body.position, width, height);
  const Sweep probe = sweep(v, box, 1, -t.step_height);
  if (!probe.hit) return;
  const float vx = body.velocity[0], vz = body.velocity[2];
  if (vx == 0.0f && vz == 0.0f) {
    body.position[1] += probe.moved;
  } else {
    const float len = std::sqrt(vx * vx + vz * vz);
    const Vec3 ahead{body.position[0] + vx / len * width, body.position[1],
                     body.position[2] + vz / len * width};
    if (standing_on_ground_shaped(v, ahead, width)) {
      const float lost = start_y - body.position[1];
      if (lost > 0.0f) body.position[1] += sweep(v, box, 1, lost).moved;
    } else {
      body.position[1] += probe.moved;
    }
  }
  body.on_ground = true;
  body.velocity[1] = 0.0f;
}

}  // namespace

Sweep sweep(const Voxels& v, const Aabb& box, int axis, float distance) {
  if (!(distance > 0.0f) && !(distance < 0.0f)) return {false, distance};
  const int u = axis == 0 ? 1 : 0;
  const int w = axis == 2 ? 1 : 2;
  const std::int64_t u0 = cell_floor(box.min[u]), u1 = cell_floor(box.max[u] - kGap);
  const std::int64_t w0 = cell_floor(box.min[w]), w1 = cell_floor(box.max[w] - kGap);
  auto layer_blocked = [&](std::int64_t layer) {
    std::array<std::int64_t, 3> c{};
    c[axis] = layer;
    for (std::int64_t i = u0; i <= u1; ++i) {
      c[u] = i;
      for (std::int64_t j = w0; j <= w1; ++j) {
        c[w] = j;
        if (v.blocked(c[0], c[1], c[2])) return true;
      }
    }
    return false;
  };
  if (distance > 0.0f) {
    const float face = box.max[axis];
    const std::int64_t last = cell_floor(face + distance - kGap);
    for (std::int64_t layer = cell_floor(face - kGap) + 1; layer <= last; ++layer) {
      if (layer_blocked(layer)) return {true, std::max(static_cast<float>(layer) - face - kGap, 0.0f)};
    }
  } else {
    const float face = box.min[axis];
    const std::int64_t last = cell_floor(face + distance);
    for (std::int64_t layer = cell_floor(face) - 1; layer >= last; --layer) {
      if (layer_blocked(layer)) return {true, std::min(static_cast<float>(layer + 1) - face + kGap, 0.0f)};
    }
  }
  return {false, distance};
}

bool standing_on_ground_shaped(const Voxels& v, const Vec3& position, float width) {
  const float half = width / 2.0f;
  const std::int64_t x0 = cell_floor(position[0] - half), x1 = cell_floor(position[0] + half - kGap);
  const std::int64_t z0 = cell_floor(position[2] - half), z1 = cell_floor(position[2] + half - kGap);
  const std::int64_t y = cell_floor(position[1] - kFootProbe);
  for (std::int64_t z = z0; z <= z1; ++z) {
    for (std::int64_t x = x0; x <= x1; ++x) {
      if (v.blocked(x, y, z)) return true;
    }
  }
  return false;
}

void resolve_horizontal(const Voxels& v, Body& body, int axis, const Resolve& p) {
  OSTREL_ASSERT((axis == 0 || axis == 2) && p.tuning != nullptr);
  const float d = body.velocity[axis];
  if (d == 0.0f) return;
  const Aabb box = Aabb::of_body(body.position, p.width, p.height);
  const Sweep s = sweep(v, box, axis, d);

  if (p.edge) {
    Vec3 there = body.position;
    there[axis] = body.position[axis] + s.moved;
    if (!standing_on_ground_shaped(v, there, kPlayerShape.width)) {
      // Halve towards the edge four times: the body stops within 1/16 of the move.
      float safe = 0.0f, half = s.moved / 2.0f;
      for (int i = 0; i < 4; ++i) {
        const float candidate = safe + half;
        there[axis] = body.position[axis] + candidate;
        if (standing_on_ground_shaped(v, there, kPlayerShape.width)) safe = candidate;
        half = half / 2.0f;
      }
      body.position[axis] += safe;
      body.velocity[axis] = 0.0f;
      return;
    }
  }
  if (!s.hit) {
    body.position[axis] += s.moved;
    return;
  }
  if (p.step) {
    const float rise = p.tuning->step_height;
    if (!sweep(v, box, 1, rise).hit) {
      Aabb raised = box;
      raised.min[1] += rise;
      raised.max[1] += rise;
      if (!sweep(v, raised, axis, d).hit) {
        body.position[1] += rise;
        body.position[axis] += d;
        return;
      }
    }
  }
  body.position[axis] += s.moved;
  if (p.stop) body.velocity[axis] = 0.0f;
}

Body step_shaped(const Voxels& v, Body body, const Intent& intent, const MoveTuning& t, float width,
                 float height) {
  const std::uint8_t cooldown = body.jump_cooldown;
  const float start_y = body.position[1];
  if (body.jump_cooldown > 0) --body.jump_cooldown;
  const float s = swim::submersion(v, Aabb::of_body(body.position, width, height));
  const float cap = gait_speed(t, intent.gait);

  float vy = body.velocity[1];
  Horizontal h;
  if (intent.fly) {
    const float f = t.fly_factor;
    if (intent.gait == Gait::Sneak) {
      vy = intent.jump ? t.sneak_speed * f : -(t.sneak_speed * f);
    } else {
      vy = intent.jump ? cap * f : 0.0f;
    }
    h.keep = t.ground_keep;
    h.push = (intent.gait == Gait::Sprint ? t.sprint_push : t.ground_push) * f;
    h.cap = cap * f;
    h.grounded = body.on_ground;
  } else {
    bool jumped = false;
    if (cooldown <= 1 && intent.jump && body.on_ground) {
      vy = t.jump_speed;
      body.jump_cooldown = t.jump_cooldown;
      jumped = true;
    } else if (s > 0.0f) {
      vy = swim_vertical(v, body, intent, t, s, height);
    } else {
      vy = std::max(vy - t.gravity, -t.terminal_fall);
    }
    h.cap = cap;
    if (jumped || body.on_ground) {
      h.keep = t.ground_keep;
      h.push = intent.gait == Gait::Sprint ? t.sprint_push : t.ground_push;
      const float f = friction_under(v, body.position);
      if (f != 1.0f) {
        h.push = h.push * f;
        h.keep = 1.0f - (1.0f - h.keep) * f;
      }
      h.grounded = true;
    } else {
      h.keep = t.air_keep;
      h.push = t.air_push;
      h.grounded = false;
    }
  }
  if (s > 0.0f) {
    h.keep += s * (t.fluid_keep - h.keep);
    h.cap += s * (t.fluid_speed - h.cap);
    h.push += s * (t.fluid_push - h.push);
  }

  const auto dir = walk_direction(intent);
  float vx = h.keep * (body.velocity[0] + dir[0] * h.push);
  float vz = h.keep * (body.velocity[2] + dir[1] * h.push);
  const float speed_sq = vx * vx + vz * vz;
  if (speed_sq > h.cap * h.cap) {
    const float scale = h.cap / std::sqrt(speed_sq);
    vx *= scale;
    vz *= scale;
  }
  body.velocity = {vx, vy, vz};

  const float chosen_vy = vy;
  const Resolve params{
      width, height, &t, h.grounded, h.grounded && vy <= 0.0f, h.grounded && intent.gait == Gait::Sneak};
  resolve_horizontal(v, body, 0, params);

  if (vy == 0.0f) {
    body.on_ground = standing_on_ground_shaped(v, body.position, width);
  } else {
    const Sweep fall = sweep(v, Aabb::of_body(body.position, width, height), 1, vy);
    body.position[1] += fall.moved;
    if (fall.hit) {
      body.on_ground = vy < 0.0f;
      body.velocity[1] = 0.0f;
    } else {
      body.on_ground = false;
    }
  }

  resolve_horizontal(v, body, 2, params);

  if (chosen_vy <= 0.0f && h.grounded && !body.on_ground) snap_down(v, body, t, width, height, start_y);
  return body;
}

}  // namespace ostrel_core::phys

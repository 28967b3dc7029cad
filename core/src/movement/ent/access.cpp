#include "movement/ent/access.hpp"

#include <algorithm>
#include <cmath>

namespace ostrel_core::ent::access {

namespace {

template <class T, std::size_t N>
bool all_finite(const std::array<T, N>& v) {
  return std::all_of(v.begin(), v.end(), [](T x) { return std::isfinite(x); });
}

}  // namespace

bool Patch::apply(Entity& e) const {
  bool wrote = false;
  if (tint) {
    e.tint = *tint;
    wrote = true;
  }
  if (flash) {
    if (flash->ticks != 0) {
      e.flash = component::TintFlash{flash->colour, flash->ticks, flash->ticks};
    } else {
      e.flash.reset();
    }
    wrote = true;
  }
  if (pos && all_finite(*pos)) {
    const component::Transform t = component::Transform::from_world((*pos)[0], (*pos)[1], (*pos)[2]);
    e.transform.chunk = t.chunk;
    e.transform.local = t.local;
    wrote = true;
  }
  if (velocity && all_finite(*velocity)) {
    e.velocity = *velocity;
    wrote = true;
  }
  if (yaw && std::isfinite(*yaw)) {
    e.transform.yaw = *yaw;
    wrote = true;
  }
  if (pitch && std::isfinite(*pitch)) {
    e.transform.pitch = *pitch;
    wrote = true;
  }
  if (drive && std::isfinite(drive->walk_x) && std::isfinite(drive->walk_z)) {
    e.drive = *drive;
    wrote = true;
  }
  if (speed && std::isfinite(*speed) && !(*speed < 0.0f)) {
    e.speed = std::min(*speed, 16.0f);
    wrote = true;
  }
  if (anim) {
    e.anim = *anim;
    wrote = true;
  }
  if (health && e.health) {
    e.health->current = std::min(*health, e.health->max);
    wrote = true;
  }
  if (opaque) {
    e.opaque = *opaque;
    wrote = true;
  }
  return wrote;
}

}  // namespace ostrel_core::ent::access

#include "entities/mount.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/num.hpp"
#include "detgen/trig.hpp"

namespace ostrel_server::mount {
namespace {

using ostrel_core::ent::EntityId;

// The 32-bit float nearest -2 pi.
constexpr float kMinusTau = -ostrel_core::detgen::trig::kTau;

bool rides(const PlayerSim& s, EntityId m) { return s.riding && s.riding->mount == m; }

DismountEvent event_of(const PlayerUuid& rider, const PlayerSim& record, EntityId mount,
                       DismountReason reason) {
  const auto p = position_in_blocks(record);
  return DismountEvent{rider, mount.value, reason, record.domain, p[0], p[1], p[2]};
}

}  // namespace

float mount_yaw(float turns) { return turns * kMinusTau; }

std::array<double, 3> position_in_blocks(const PlayerSim& r) {
  return {r.chunk.x * 16.0 + r.local[0] / 3.0, r.chunk.y * 16.0 + r.local[1] / 3.0,
          r.chunk.z * 16.0 + r.local[2] / 3.0};
}

void seat_rider(PlayerSim& rider, float yaw) {
  if (!rider.riding) return;
  const Ride& ride = *rider.riding;
  const auto offset = ostrel_core::ent::mount::seat_offset(ride.seat, yaw);
  ostrel_core::phys::Vec3 p{};
  for (int a = 0; a < 3; ++a) p[a] = ride.mount_local[a] + offset[a];
  const auto anchored = ostrel_core::phys::reanchor(ride.mount_chunk, p);
  rider.chunk = ChunkPos{ostrel_core::num::clamp_i32(anchored.chunk[0]), ostrel_core::num::clamp_i32(anchored.chunk[1]),
                         ostrel_core::num::clamp_i32(anchored.chunk[2])};
  rider.local = anchored.local;
  rider.velocity = ride.mount_velocity;
  rider.on_ground = ride.mount_on_ground;
}

Boarding board(const ent::Population& population, PlayerMap& players, const PlayerUuid& rider, EntityId mount,
               const MountOptions& options) {
  const auto it = players.find(rider);
  if (it == players.end()) return Boarding::NotConnected;
  const auto* e = population.get(mount);
  if (e == nullptr) return Boarding::NoSuchEntity;
  if (population.is_body(mount) || e->source == ent::kPlayerSource) return Boarding::APlayer;
  const auto sized = [](float v) { return std::isfinite(v) && v > 0.0f && v <= ent::kMaxRiddenSide; };
  if (!e->collider || !sized(e->collider->width) || !sized(e->collider->height)) return Boarding::NoCollider;
  const std::string_view domain = population.domain_of(mount);
  PlayerSim& record = it->second;
  if (domain != record.domain) return Boarding::AnotherDomain;
  for (const auto& [other, sim] : players) {
    if (other != rider && rides(sim, mount)) return Boarding::Ridden;
  }
  if (record.riding && record.riding->mount != mount) return Boarding::AlreadyRiding;
  const std::uint8_t cooldown = record.riding ? record.riding->mount_jump_cooldown : 0;
  Ride ride;
  ride.domain = std::string(domain);
  ride.mount = mount;
  ride.mount_size = {e->collider->width, e->collider->height};
  ride.mount_local = e->transform.local;
  ride.mount_velocity = e->velocity;
  ride.mount_jump_cooldown = cooldown;
  ride.mount_on_ground = e->on_ground;
  ride.seat = options.seat.value_or(std::array<float, 3>{0.0f, e->collider->height, 0.0f});
  ride.mount_chunk = e->transform.chunk;
  ride.mount_speed = e->speed;
  ride.sneak_dismounts = options.sneak_dismounts;
  record.riding = std::move(ride);
  seat_rider(record, e->transform.yaw);
  return Boarding::Seated;
}

RideStep ride(ent::Population& population, const PlayerUuid& rider, PlayerSim& record,
              const ostrel_core::phys::Intent& intent, const ent::DomainView& world) {
  if (!record.riding) return NotRiding{};
  if (record.domain != record.riding->domain) return *alight(rider, record, DismountReason::Gone, true);
  if (record.riding->sneak_dismounts && intent.gait == ostrel_core::phys::Gait::Sneak) {
    return *alight(rider, record, DismountReason::Sneak, false);
  }
  ostrel_core::phys::Intent drive = intent;
  drive.fly = false;
  const float yaw = mount_yaw(record.yaw);
  const auto driven = population.drive(record.riding->mount, record.riding->domain, world, drive, yaw,
                                       record.riding->mount_jump_cooldown);
  if (!driven) return *alight(rider, record, DismountReason::Gone, false);
  Ride& r = *record.riding;
  r.mount_size = {driven->width, driven->height};
  r.mount_chunk = driven->chunk;
  r.mount_local = driven->local;
  r.mount_velocity = driven->velocity;
  r.mount_jump_cooldown = driven->jump_cooldown;
  r.mount_on_ground = driven->on_ground;
  r.mount_speed = driven->speed;
  seat_rider(record, yaw);
  return Riding{};
}

std::optional<DismountEvent> alight(const PlayerUuid& rider, PlayerSim& record, DismountReason reason,
                                    bool keep_place) {
  if (!record.riding) return std::nullopt;
  const Ride ride = std::move(*record.riding);
  record.riding.reset();
  record.velocity = {0.0f, 0.0f, 0.0f};
  if (!keep_place) {
    record.chunk = ride.mount_chunk;
    record.local = ride.mount_local;
    record.on_ground = ride.mount_on_ground;
  }
  return event_of(rider, record, ride.mount, reason);
}

void Rides::note(const PlayerMap& players) {
  rides_.clear();
  for (const auto& [player, sim] : players) {
    if (sim.riding) rides_.emplace(player, Noted{sim.riding->mount, sim.domain, position_in_blocks(sim)});
  }
}

std::vector<DismountEvent> Rides::departed(const std::set<PlayerUuid>& present) const {
  std::vector<DismountEvent> out;
  for (const auto& [player, noted] : rides_) {
    if (present.contains(player)) continue;
    out.push_back(DismountEvent{player, noted.mount.value, DismountReason::Leave, noted.domain,
                                noted.position[0], noted.position[1], noted.position[2]});
  }
  return out;
}

}  // namespace ostrel_server::mount

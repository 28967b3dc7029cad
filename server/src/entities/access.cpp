#include "entities/access.hpp"

#include <cmath>

#include "entities/mount.hpp"
#include "hub/records.hpp"

namespace ostrel_server::ent {
namespace {

namespace mount = ostrel_server::mount;
using ostrel_core::ent::component::Transform;

bool finite(const std::array<double, 3>& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

template <class T>
std::vector<T> take(ostrel_core::sync::Mutex<std::vector<T>>& queue) {
  auto guard = queue.lock();
  if (!guard) return {};
  return std::exchange(**guard, {});
}

template <class T>
void push(ostrel_core::sync::Mutex<std::vector<T>>& queue, T value) {
  if (auto guard = queue.lock()) (*guard)->push_back(std::move(value));
}

float clamped(float v, float hi) { return std::isfinite(v) ? std::clamp(v, 0.0f, hi) : 1.0f; }

}  // namespace

ostrel_core::proto::AbilitiesDef clamp_abilities(ostrel_core::proto::AbilitiesDef a) {
  a.speed = clamped(a.speed, 16.0f);
  a.gravity = clamped(a.gravity, 4.0f);
  return a;
}

Shared::Shared(std::shared_ptr<Guarded> population, std::shared_ptr<Domains> domains,
               std::shared_ptr<Players> players)
    : population_(std::move(population)),
      domains_(std::move(domains)),
      players_(std::move(players)),
      transfers_(std::make_shared<Queue<TransferRequest>>()),
      selections_(std::make_shared<Queue<std::pair<PlayerUuid, std::uint16_t>>>()),
      dismounts_(std::make_shared<Queue<DismountEvent>>()) {}

std::optional<EntityId> Shared::spawn(Entity entity) {
  auto pop = population_->write();
  if (!pop) return std::nullopt;
  return (*pop)->spawn(std::move(entity));
}

bool Shared::despawn(EntityId id) {
  std::vector<DismountEvent> events;
  {
    auto pop = population_->write();
    if (!pop) return false;
    const auto removed = (*pop)->despawn(id);
    if (!removed) return false;
    if (auto players = players_->lock()) {
      for (auto& [player, sim] : **players) {
        if (!sim.riding || sim.riding->mount != id) continue;
        sim.riding->mount_chunk = removed->transform.chunk;
        sim.riding->mount_local = removed->transform.local;
        if (auto e = mount::alight(player, sim, mount::DismountReason::Gone, false))
          events.push_back(std::move(*e));
      }
    }
  }
  for (auto& e : events) heard_later(std::move(e));
  return true;
}

std::optional<Entity> Shared::get(EntityId id) {
  auto pop = population_->read();
  if (!pop) return std::nullopt;
  const Entity* e = (*pop)->get(id);
  if (e == nullptr) return std::nullopt;
  return *e;
}

bool Shared::patch(EntityId id, const ostrel_core::ent::access::Patch& patch) {
  auto pop = population_->write();
  if (!pop) return false;
  Entity* e = (*pop)->get_mut(id);
  if (e == nullptr) return false;
  const ChunkPos before = e->transform.chunk;
  const bool changed = patch.apply(*e);
  if (e->transform.chunk != before) (*pop)->dirty_chunk((*pop)->domain_of(id), e->transform.chunk);
  return changed;
}

std::optional<EntityId> Shared::player(const PlayerUuid& player) {
  auto pop = population_->read();
  if (!pop) return std::nullopt;
  return (*pop)->body_of(player);
}

std::vector<EntityId> Shared::within(std::string_view domain, const ostrel_core::ent::access::Vec3d& centre,
                                     double radius, std::optional<std::string_view> source) {
  if (!finite(centre) || !(radius >= 0.0)) return {};
  auto pop = population_->read();
  if (!pop) return {};
  const auto at = Transform::from_world(centre[0], centre[1], centre[2]);
  std::vector<EntityId> out;
  for (const auto& [id, distance] : (*pop)->entities().within(at, static_cast<float>(radius * 3.0))) {
    (void)distance;
    if ((*pop)->domain_of(id) != domain) continue;
    if (source && (*pop)->get(id)->source != *source) continue;
    out.push_back(id);
  }
  return out;
}

bool Shared::move_player(const PlayerUuid& player, const ostrel_core::ent::access::Vec3d& position) {
  if (!finite(position)) return false;
  const auto at = Transform::from_world(position[0], position[1], position[2]);
  for (const std::int32_t c : {at.chunk.x, at.chunk.y, at.chunk.z}) {
    if (c < kFirstChunk || c > kLastChunk) return false;
  }
  std::optional<DismountEvent> event;
  {
    auto players = players_->lock();
    if (!players) return false;
    const auto it = (*players)->find(player);
    if (it == (*players)->end()) return false;
    auto& sim = it->second;
    sim.chunk = at.chunk;
    sim.local = at.local;
    sim.velocity = {0.0f, 0.0f, 0.0f};
    event = mount::alight(player, sim, mount::DismountReason::Dismount, true);
  }
  if (event) heard_later(std::move(*event));
  return true;
}

bool Shared::select_slot(const PlayerUuid& player, std::uint16_t slot) {
  {
    auto players = players_->lock();
    if (!players || !(*players)->contains(player)) return false;
  }
  auto queue = selections_->lock();
  if (!queue) return false;
  (*queue)->emplace_back(player, slot);
  return true;
}

bool Shared::shove_player(const PlayerUuid& player, const std::array<float, 3>& impulse) {
  const auto add = [&](std::array<float, 3>& velocity, bool& on_ground) {
    std::array<float, 3> sum{};
    for (int a = 0; a < 3; ++a) {
      sum[a] = velocity[a] + impulse[a];
      if (!std::isfinite(sum[a])) return false;  // a non-finite impulse, or one that overflows
    }
    velocity = sum;
    if (impulse[1] > 0.0f) on_ground = false;
    return true;
  };
  std::optional<EntityId> mount;
  {
    auto players = players_->lock();
    if (!players) return false;
    const auto it = (*players)->find(player);
    if (it == (*players)->end()) return false;
    auto& sim = it->second;
    if (!sim.riding) return add(sim.velocity, sim.on_ground);
    mount = sim.riding->mount;
  }
  auto pop = population_->write();
  if (!pop) return false;
  Entity* e = (*pop)->get_mut(*mount);
  if (e == nullptr) return false;
  return add(e->velocity, e->on_ground);
}

bool Shared::transfer(EntityId id, std::string_view domain, const ostrel_core::ent::access::Vec3d& position) {
  if (!finite(position)) return false;
  {
    auto pop = population_->read();
    if (!pop || (*pop)->get(id) == nullptr) return false;
  }
  {
    if (!domains_) return false;
    auto domains = domains_->read();
    if (!domains || !(*domains)->is_live(domain)) return false;
  }
  auto queue = transfers_->lock();
  if (!queue) return false;
  (*queue)->push_back(TransferRequest{std::string(domain), id, position});
  return true;
}

bool Shared::set_abilities(const PlayerUuid& player,
                           std::optional<ostrel_core::ent::access::Abilities> abilities) {
  auto players = players_->lock();
  if (!players) return false;
  const auto it = (*players)->find(player);
  if (it == (*players)->end()) return false;
  auto& sim = it->second;
  std::optional<ostrel_core::proto::AbilitiesDef> wire;
  if (abilities) wire = clamp_abilities(abilities->wire);
  sim.wind_sky = !abilities || abilities->wind_sky;
  // The sky keys have no wire field: only a change the client can see is sent.
  if (sim.abilities == wire) return true;
  sim.abilities = wire;
  sim.abilities_sent = false;
  return true;
}

ostrel_core::ent::mount::Boarding Shared::mount(const PlayerUuid& player, EntityId id,
                                                const ostrel_core::ent::mount::MountOptions& options) {
  auto pop = population_->read();
  if (!pop) return mount::Boarding::NotConnected;
  auto players = players_->lock();
  if (!players) return mount::Boarding::NotConnected;
  return mount::board(**pop, **players, player, id, options);
}

bool Shared::dismount(const PlayerUuid& player) {
  std::optional<DismountEvent> event;
  {
    auto players = players_->lock();
    if (!players) return false;
    const auto it = (*players)->find(player);
    if (it == (*players)->end()) return false;
    event = mount::alight(player, it->second, mount::DismountReason::Dismount, false);
  }
  if (!event) return false;
  heard_later(std::move(*event));
  return true;
}

std::optional<EntityId> Shared::mounted(const PlayerUuid& player) {
  auto players = players_->lock();
  if (!players) return std::nullopt;
  const auto it = (*players)->find(player);
  if (it == (*players)->end() || !it->second.riding) return std::nullopt;
  return it->second.riding->mount;
}

std::vector<TransferRequest> Shared::take_transfers() { return take(*transfers_); }
std::vector<std::pair<PlayerUuid, std::uint16_t>> Shared::take_selections() { return take(*selections_); }
std::vector<DismountEvent> Shared::take_dismounts() { return take(*dismounts_); }
void Shared::heard_later(DismountEvent event) { push(*dismounts_, std::move(event)); }

}  // namespace ostrel_server::ent

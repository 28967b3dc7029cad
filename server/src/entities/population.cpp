#include "entities/population.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>

#include "base/num.hpp"
#include "movement/phys/step.hpp"

namespace ostrel_server::ent {

namespace phys = ostrel_core::phys;
namespace component = ostrel_core::ent::component;

namespace {

constexpr float kMaxSpeed = 16.0f;

bool usable_side(float side, float max_side) { return side > 0.0f && side <= max_side; }  // false for NaN

// A stored multiplier that is not a number counts as 1; the rest is held to 0..=16.
float speed_of(const Entity& e) {
  if (!std::isfinite(e.speed)) return 1.0f;
  return std::clamp(e.speed, 0.0f, kMaxSpeed);
}

Entity player_body(const PlayerUuid& player) {
  Entity e;
  e.source = std::string(kPlayerSource);
  e.model = std::string(kPlayerModel);
  e.collider = phys::kPlayerShape;
  e.owner = component::Owner{player};
  e.nametag = component::Nametag{component::NametagPlayer{player}};
  e.speed = 1.0f;
  return e;
}

}  // namespace

// ---- Reading ----

std::string_view Population::domain_of(EntityId id) const {
  auto it = domains_.find(id);
  return it == domains_.end() ? kOverworld : std::string_view(it->second);
}

bool Population::in_domain(EntityId id, std::string_view domain) const { return domain_of(id) == domain; }

std::optional<EntityId> Population::body_of(const PlayerUuid& player) const {
  auto it = players_.find(player);
  if (it == players_.end()) return std::nullopt;
  return it->second;
}

std::size_t Population::occupants(std::string_view domain) const {
  std::size_t n = 0;
  for (EntityId id : entities_.ids()) n += in_domain(id, domain) ? 1 : 0;
  return n;
}

std::vector<std::string> Population::occupied_domains() const {
  std::set<std::string, std::less<>> names{std::string(kOverworld)};
  for (const auto& [id, name] : domains_) names.insert(name);
  return {names.begin(), names.end()};
}

std::map<std::string, std::vector<EntityId>> Population::owned_by_mod() const {
  std::map<std::string, std::vector<EntityId>> out;
  for (EntityId id : entities_.ids()) out[entities_.get(id)->source].push_back(id);
  return out;
}

bool Population::has(const ChunkSets& sets, std::string_view domain, ChunkPos chunk) {
  auto it = sets.find(domain);
  return it != sets.end() && it->second.contains(chunk);
}

bool Population::is_dirty(std::string_view domain, ChunkPos chunk) const {
  return has(dirty_, domain, chunk);
}
bool Population::is_loaded(std::string_view domain, ChunkPos chunk) const {
  return has(loaded_, domain, chunk);
}

std::vector<ChunkKey> Population::unloaded_dirty() const {
  std::vector<ChunkKey> out;
  for (const auto& [domain, chunks] : dirty_) {
    for (ChunkPos c : chunks) {
      if (!is_loaded(domain, c)) out.push_back({domain, c});
    }
  }
  return out;
}

// ---- Scripts and transfers ----

EntityId Population::spawn(Entity entity) {
  dirty_chunk(kOverworld, entity.transform.chunk);
  return entities_.spawn(std::move(entity));
}

Entity* Population::get_mut(EntityId id) {
  Entity* e = entities_.get_mut(id);
  if (e) dirty_chunk(domain_of(id), e->transform.chunk);
  return e;
}

std::optional<Entity> Population::despawn(EntityId id) {
  std::optional<Entity> e = entities_.despawn(id);
  if (!e) return std::nullopt;
  auto it = domains_.find(id);
  const std::string domain = it == domains_.end() ? std::string(kOverworld) : it->second;
  if (it != domains_.end()) domains_.erase(it);
  dirty_chunk(domain, e->transform.chunk);
  return e;
}

void Population::set_domain(EntityId id, std::string_view domain) {
  const std::string current(domain_of(id));
  if (current == domain) return;
  if (domain == kOverworld) {
    domains_.erase(id);
  } else {
    domains_.insert_or_assign(id, std::string(domain));
  }
  if (const Entity* e = entities_.get(id)) {
    dirty_chunk(current, e->transform.chunk);
    dirty_chunk(domain, e->transform.chunk);
  }
}

void Population::dirty_chunk(std::string_view domain, ChunkPos chunk) {
  auto it = dirty_.find(domain);
  if (it == dirty_.end()) it = dirty_.emplace(std::string(domain), std::set<ChunkPos>{}).first;
  it->second.insert(chunk);
}

// ---- Player bodies ----

EntityId Population::sync_player(const PlayerUuid& player, const component::Transform& transform,
                                 const Motion& motion, std::uint8_t anim, component::Hands hands) {
  auto apply = [&](Entity& e) {
    e.transform = transform;
    e.velocity = motion.velocity;
    e.on_ground = motion.on_ground;
    e.submerged = motion.submerged;
    e.fell = motion.fell;
    e.anim = anim;
    e.hands = std::move(hands);
  };
  if (auto it = players_.find(player); it != players_.end()) {
    if (Entity* e = entities_.get_mut(it->second)) {
      apply(*e);
      return it->second;
    }
    bodies_.erase(it->second);
    domains_.erase(it->second);
  }
  Entity body = player_body(player);
  apply(body);
  const EntityId id = entities_.spawn(std::move(body));
  bodies_.insert(id);
  players_.insert_or_assign(player, id);
  return id;
}

void Population::retain_players(const std::set<PlayerUuid>& present) {
  for (auto it = players_.begin(); it != players_.end();) {
    if (present.contains(it->first)) {
      ++it;
      continue;
    }
    bodies_.erase(it->second);
    domains_.erase(it->second);
    entities_.despawn(it->second);
    it = players_.erase(it);
  }
}

// ---- The tick ----

bool Population::push(EntityId id, float x, float z) {
  Entity* e = entities_.get_mut(id);
  if (!e) return false;
  e->velocity[0] += x;
  e->velocity[2] += z;
  return true;
}

std::optional<Population::Advanced> Population::advance(Entity& e, const DomainView& world,
                                                        const phys::Intent& intent,
                                                        std::uint8_t jump_cooldown, float max_side) {
  if (!e.collider) return std::nullopt;
  const phys::Shape shape = *e.collider;
  if (!usable_side(shape.width, max_side) || !usable_side(shape.height, max_side)) return std::nullopt;

  const phys::MoveTuning tuning = phys::MoveTuning{}.with_speed(speed_of(e));
  const ChunkPos old_chunk = e.transform.chunk;
  const phys::voxels::Voxels v(world.chunks, world.terrain, world.fluids, old_chunk);
  const phys::Body stepped =
      phys::step_shaped(v, phys::Body{e.transform.local, e.velocity, jump_cooldown, e.on_ground}, intent,
                        tuning, shape.width, shape.height);

  const phys::Anchored anchored = phys::reanchor(old_chunk, stepped.position);
  bool inside = true;
  for (std::int64_t c : anchored.chunk) inside = inside && c >= kFirstChunk && c <= kLastChunk;
  ChunkPos new_chunk = old_chunk;
  if (inside) {
    new_chunk = {static_cast<std::int32_t>(anchored.chunk[0]), static_cast<std::int32_t>(anchored.chunk[1]),
                 static_cast<std::int32_t>(anchored.chunk[2])};
    e.transform.chunk = new_chunk;
    e.transform.local = anchored.local;
    e.velocity = stepped.velocity;
  } else {
    // Past the world's edge: stay in the old chunk, stopped, measured from it.
    e.transform.local = stepped.position;
    e.velocity = {0.0f, 0.0f, 0.0f};
  }
  e.on_ground = stepped.on_ground;
  return Advanced{old_chunk, new_chunk, stepped.jump_cooldown};
}

void Population::tick(std::string_view domain, const DomainView& world) {
  const std::vector<EntityId> ids = entities_.ids();
  for (EntityId id : ids) {
    Entity& e = *entities_.get_mut(id);
    if (!e.flash || !in_domain(id, domain)) continue;
    if (e.flash->left <= 1) {
      e.flash.reset();
    } else {
      --e.flash->left;
    }
  }
  std::vector<std::pair<ChunkPos, ChunkPos>> crossed;
  for (EntityId id : ids) {
    if (bodies_.contains(id) || driven_.contains(id) || !in_domain(id, domain)) continue;
    Entity& e = *entities_.get_mut(id);
    const phys::Intent intent = e.drive;
    const auto moved = advance(e, world, intent, 0, kMaxMovedSide);
    if (moved && moved->old_chunk != moved->new_chunk)
      crossed.emplace_back(moved->old_chunk, moved->new_chunk);
  }
  for (const auto& [from, to] : crossed) {
    dirty_chunk(domain, from);
    dirty_chunk(domain, to);
  }
}

std::optional<Driven> Population::drive(EntityId id, std::string_view domain, const DomainView& world,
                                        const phys::Intent& intent, float yaw, std::uint8_t jump_cooldown) {
  if (bodies_.contains(id) || !in_domain(id, domain)) return std::nullopt;
  Entity* e = entities_.get_mut(id);
  if (!e || !e->collider) return std::nullopt;
  if (!usable_side(e->collider->width, kMaxRiddenSide) || !usable_side(e->collider->height, kMaxRiddenSide)) {
    return std::nullopt;
  }
  const auto moved = advance(*e, world, intent, jump_cooldown, kMaxRiddenSide);
  if (!moved) return std::nullopt;
  if (moved->old_chunk != moved->new_chunk) {
    dirty_chunk(domain, moved->old_chunk);
    dirty_chunk(domain, moved->new_chunk);
  }
  e->transform.yaw = yaw;
  driven_.insert(id);
  return Driven{e->collider->width, e->collider->height, e->transform.chunk,   e->speed,
                e->transform.local, e->velocity,         moved->jump_cooldown, e->on_ground};
}

// ---- Chunks coming and going ----

void Population::chunk_loaded(std::string_view domain, ChunkPos chunk, std::vector<Entity> stored) {
  auto it = loaded_.find(domain);
  if (it == loaded_.end()) it = loaded_.emplace(std::string(domain), std::set<ChunkPos>{}).first;
  if (!it->second.insert(chunk).second) return;
  const std::vector<EntityId> ids = entities_.spawn_all(std::move(stored));
  for (EntityId id : ids) set_domain(id, domain);
}

std::optional<std::vector<Entity>> Population::freeze(std::string_view domain, ChunkPos chunk) {
  for (const auto& [player, id] : players_) {
    const Entity* body = entities_.get(id);
    if (body && body->transform.chunk == chunk && in_domain(id, domain)) return std::nullopt;
  }
  auto loaded = loaded_.find(domain);
  if (loaded == loaded_.end() || loaded->second.erase(chunk) == 0) return std::nullopt;

  std::vector<Entity> taken;
  for (EntityId id : entities_.ids()) {
    if (bodies_.contains(id) || !in_domain(id, domain) || entities_.get(id)->transform.chunk != chunk)
      continue;
    domains_.erase(id);
    taken.push_back(*entities_.despawn(id));
  }
  if (auto d = dirty_.find(domain); d != dirty_.end()) d->second.erase(chunk);
  return taken;
}

std::vector<ChunkEntities> Population::take_dirty() {
  std::vector<ChunkEntities> out;
  if (dirty_.empty()) return out;
  const auto by_chunk = entities_.by_chunk();
  for (auto d = dirty_.begin(); d != dirty_.end();) {
    const std::string& domain = d->first;
    for (auto c = d->second.begin(); c != d->second.end();) {
      if (!is_loaded(domain, *c)) {
        ++c;  // its stored entities were never read: saving now would lose them
        continue;
      }
      ChunkEntities saved{domain, *c, {}};
      if (auto found = by_chunk.find(*c); found != by_chunk.end()) {
        for (EntityId id : found->second) {
          if (!bodies_.contains(id) && in_domain(id, domain)) saved.entities.push_back(*entities_.get(id));
        }
      }
      out.push_back(std::move(saved));
      c = d->second.erase(c);
    }
    d = d->second.empty() ? dirty_.erase(d) : std::next(d);
  }
  return out;
}

}  // namespace ostrel_server::ent

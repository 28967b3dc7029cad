#pragma once
// Population: the server's one collection of live entities across all domains. It wraps the
// entity store with the domain of each entity, the mirrored bodies of connected players, the
// chunks whose stored entities were taken in, and the chunks whose entities changed since they
// were last handed out for saving. It moves each domain's entities once a tick, moves a ridden
// entity with its rider's input, and hands out and takes back the entities of chunks.
//
// A chunk is (domain, ChunkPos). An entity is in domain d when its domain record is d, or it has
// no record and d is "overworld". Player bodies are never saved.
//
// A chunk's stored entities go:
//   not taken in -> loaded   [chunk_loaded]  stored entities spawned once; `loaded` holds it
//   loaded       -> changed  [any move, spawn, despawn, get_mut, set_domain]  `dirty` holds it
//   changed      -> loaded   [take_dirty]    its live entities copied out for the saver
//   loaded       -> gone     [freeze]        its entities leave; both marks cleared
// A changed chunk that was never taken in (an entity spawned or walked where the stored ones
// were not read yet, or their load failed) is never handed to the saver: saving it would delete
// the stored rows. It stays changed, its entities live, and unloaded_dirty lists it: the saver
// reads its stored entities and gives them to chunk_loaded (the live ones stay) before saving,
// and freezes the chunk right away when the world no longer holds it.
//
// Not locked itself: the server shares it as a Guarded.

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/sync.hpp"
#include "identity/identity.hpp"
#include "movement/ent.hpp"
#include "movement/phys.hpp"
#include "movement/phys/voxels.hpp"
#include "world/coords.hpp"

namespace ostrel_server::ent {

using ostrel_core::coords::ChunkPos;
using ostrel_core::ent::Entities;
using ostrel_core::ent::Entity;
using ostrel_core::ent::EntityId;
using ostrel_core::identity::PlayerUuid;

inline constexpr std::string_view kOverworld = "overworld";
using ostrel_core::ent::kPlayerSource;
inline constexpr std::string_view kPlayerModel = "engine:humanoid";
// The world is 120,000 blocks wide: chunks -3750..=3749 on each axis.
inline constexpr std::int32_t kFirstChunk = -3750;
inline constexpr std::int32_t kLastChunk = 3749;
// Largest collider side a rider may drive (16 blocks), and the largest the population moves at
// all: a body's step costs its cross-section, so a stored collider of absurd size stays put.
inline constexpr float kMaxRiddenSide = 48.0f;  // cells
inline constexpr float kMaxMovedSide = 96.0f;   // cells

// A domain's world as its entities' movement reads it; borrowed for one call.
struct DomainView {
  const ostrel_core::phys::voxels::Resident& chunks;
  const ostrel_core::phys::voxels::FluidSource* fluids;  // null: no fluid state
  const ostrel_core::phys::voxels::Terrain& terrain;
};

// What the tick hands in of a player's body besides its transform.
struct Motion {
  std::array<float, 3> velocity{};  // cells per tick
  float submerged = 0.0f;           // 0..=1
  float fell = 0.0f;                // blocks, non-zero on the landing tick
  bool on_ground = false;
};

// A ridden entity after its step.
struct Driven {
  float width = 0.0f;               // collider, cells
  float height = 0.0f;              // collider, cells
  ChunkPos chunk;                   // after the step
  float speed = 1.0f;               // the entity's speed multiplier
  std::array<float, 3> local{};     // cells within `chunk`
  std::array<float, 3> velocity{};  // cells per tick
  std::uint8_t jump_cooldown = 0;   // after the step
  bool on_ground = false;
};

// A chunk's entities as the saver writes them: an empty list deletes the chunk's rows.
struct ChunkEntities {
  std::string domain;
  ChunkPos chunk;
  std::vector<Entity> entities;
  friend bool operator==(const ChunkEntities&, const ChunkEntities&) = default;
};

struct ChunkKey {
  std::string domain;
  ChunkPos chunk;
  friend auto operator<=>(const ChunkKey&, const ChunkKey&) = default;
};

class Population {
 public:
  // ---- Reading ----
  const Entities& entities() const { return entities_; }
  const Entity* get(EntityId id) const { return entities_.get(id); }
  // The entity's domain name: its record, or "overworld".
  std::string_view domain_of(EntityId id) const;
  bool is_body(EntityId id) const { return bodies_.contains(id); }
  std::optional<EntityId> body_of(const PlayerUuid& player) const;
  const std::map<PlayerUuid, EntityId>& players() const { return players_; }
  // Live entities in the domain, player bodies included.
  std::size_t occupants(std::string_view domain) const;
  // "overworld" and every recorded domain, bytewise ascending, each once.
  std::vector<std::string> occupied_domains() const;
  // Every live entity in slot order under its source; bodies under "engine:player".
  std::map<std::string, std::vector<EntityId>> owned_by_mod() const;
  bool is_dirty(std::string_view domain, ChunkPos chunk) const;
  bool is_loaded(std::string_view domain, ChunkPos chunk) const;
  // Changed chunks whose stored entities were never taken in, by domain then position.
  std::vector<ChunkKey> unloaded_dirty() const;

  // ---- Scripts and transfers ----
  // Stores a new entity in "overworld" and marks its chunk there.
  EntityId spawn(Entity entity);
  // Marks (its domain, its current chunk) and lends the entity. A caller that moves it into
  // another chunk marks that one with dirty_chunk.
  Entity* get_mut(EntityId id);
  // Removes it with its domain record and marks (its domain, its chunk).
  std::optional<Entity> despawn(EntityId id);
  // Records the domain; a change marks the entity's chunk in both domains.
  void set_domain(EntityId id, std::string_view domain);
  void dirty_chunk(std::string_view domain, ChunkPos chunk);

  // ---- Player bodies ----
  // Overwrites the player's body (transform, motion, anim, hands), or makes one; marks nothing.
  EntityId sync_player(const PlayerUuid& player, const ostrel_core::ent::component::Transform& transform,
                       const Motion& motion, std::uint8_t anim, ostrel_core::ent::component::Hands hands);
  // Removes the bodies of players not in `present`.
  void retain_players(const std::set<PlayerUuid>& present);

  // ---- The tick ----
  // Empties the set of entities riders moved; at the start of every body phase.
  void clear_driven() { driven_.clear(); }
  // Adds a crowd push to the entity's horizontal velocity. Marks nothing: like a move within
  // its chunk, it is saved with the chunk's next change. False for a stale id.
  bool push(EntityId id, float x, float z);
  // Counts down the domain's flashes and steps each of its entities that is neither a body nor
  // driven this tick with its own drive; marks the chunks entities left and entered.
  void tick(std::string_view domain, const DomainView& world);
  // Steps a ridden entity with its rider's intent and faces it where the rider looks. Nothing,
  // and no move, for a body, an entity of another domain, a stale id, a marker or a collider
  // that is not a positive size of at most kMaxRiddenSide.
  std::optional<Driven> drive(EntityId id, std::string_view domain, const DomainView& world,
                              const ostrel_core::phys::Intent& intent, float yaw, std::uint8_t jump_cooldown);

  // ---- Chunks coming and going ----
  // Takes in a loaded chunk's stored entities, once while the chunk stays taken in; a second
  // list is dropped. Live entities already in the chunk stay.
  void chunk_loaded(std::string_view domain, ChunkPos chunk, std::vector<Entity> stored);
  // Takes out the entities of a chunk leaving memory, clearing both its marks. Nothing, and no
  // change, when a player body stands in it or its stored entities were never taken in.
  std::optional<std::vector<Entity>> freeze(std::string_view domain, ChunkPos chunk);
  // Copies of the entities of every changed chunk that was taken in, by domain then position,
  // and clears those marks. Changed chunks never taken in stay changed (unloaded_dirty).
  std::vector<ChunkEntities> take_dirty();

 private:
  using ChunkSets = std::map<std::string, std::set<ChunkPos>, std::less<>>;

  struct Advanced {
    ChunkPos old_chunk;
    ChunkPos new_chunk;
    std::uint8_t jump_cooldown = 0;  // after the step
  };
  // One movement step of `e` with its own collider, speed and transform; nothing for a marker
  // or a collider side that is not a positive number of at most `max_side` cells.
  static std::optional<Advanced> advance(Entity& e, const DomainView& world,
                                         const ostrel_core::phys::Intent& intent, std::uint8_t jump_cooldown,
                                         float max_side);
  bool in_domain(EntityId id, std::string_view domain) const;
  static bool has(const ChunkSets& sets, std::string_view domain, ChunkPos chunk);

  Entities entities_;
  ChunkSets dirty_;                          // changed since last handed out for saving
  ChunkSets loaded_;                         // stored entities taken in
  std::set<EntityId> bodies_;                // ids that are player bodies
  std::map<PlayerUuid, EntityId> players_;   // each connected player's body
  std::map<EntityId, std::string> domains_;  // every entity not in "overworld"
  std::set<EntityId> driven_;                // moved by a rider this tick
};

// The population as the tick and the script engine's entity, sight and path services share it.
// A lock found poisoned means the simulation thread panicked while it held it: the script
// functions answer "the entity store is poisoned; the simulation thread panicked".
using Guarded = ostrel_core::sync::RwLock<Population>;

}  // namespace ostrel_server::ent

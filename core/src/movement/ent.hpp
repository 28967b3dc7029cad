#pragma once
// Entities and the generational store that holds every live one.
//
// An EntityId is slot index | generation << 32. A slot's generation rises by one each time an
// entity leaves it, so an id that stopped resolving never resolves again: despawning id 1
// (index 1, generation 0) and spawning again gives id 4,294,967,297 (index 1, generation 1).
// A slot whose generation reached 4,294,967,295 is retired when its entity leaves.

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "world/coords.hpp"
#include "movement/ent/component.hpp"
#include "building/inventory/stack.hpp"
#include "movement/phys.hpp"

namespace ostrel_core::ent {

// The source of every player's mirrored body.
inline constexpr std::string_view kPlayerSource = "engine:player";

// One thing in the world that is not a block. Fields up to `opaque` are stored, in this order;
// the rest start empty whenever an entity is loaded or spawned by a script.
struct Entity {
  component::Transform transform;
  std::array<float, 3> velocity{};          // cells per tick
  float speed = 1.0f;                       // walking speed multiplier, 0..=16; 0 is rooted
  std::optional<phys::Shape> collider;      // absent: a marker that neither moves nor collides
  std::optional<std::string> model;         // e.g. "engine:humanoid"
  std::optional<inventory::Stack> item;     // the stack an item entity is
  std::optional<component::Health> health;  // always absent for player bodies
  std::optional<component::Nametag> nametag;
  std::optional<component::Owner> owner;
  std::string source;                               // the spawning mod's id, or "engine:player"
  std::optional<std::vector<std::uint8_t>> opaque;  // carried, never interpreted

  component::Hands hands;  // not stored
  phys::Intent drive;
  float submerged = 0.0f;  // fraction of the body in fluid, 0..=1
  float fell = 0.0f;       // blocks fallen, non-zero on the landing tick
  std::optional<component::TintFlash> flash;
  bool on_ground = false;
  std::uint8_t anim = 0;
  component::Rgb tint;  // 255 on each channel is untinted

  friend bool operator==(const Entity&, const Entity&) = default;
};

// Low 32 bits the slot index, high 32 bits the slot's generation when the entity was stored.
struct EntityId {
  std::uint64_t value = 0;

  static constexpr EntityId of(std::uint32_t index, std::uint32_t generation) {
    return {static_cast<std::uint64_t>(generation) << 32 | index};
  }
  constexpr std::uint32_t index() const { return static_cast<std::uint32_t>(value); }
  constexpr std::uint32_t generation() const { return static_cast<std::uint32_t>(value >> 32); }
  // "EntityId(4294967297)".
  std::string debug() const;
  friend constexpr auto operator<=>(const EntityId&, const EntityId&) = default;
};

inline constexpr std::uint32_t kLastGeneration = 0xFFFFFFFF;

struct Slot {
  std::optional<Entity> entity;  // absent: the slot is free (or retired)
  std::uint32_t generation = 0;  // raised by one each time an entity leaves
};

// Invariants (check_invariants): an index is in free_ exactly when its slot is empty and its
// generation is below kLastGeneration; free_ is ascending without duplicates; live_ counts the
// occupied slots. Not locked: its owner serialises every call.
class Entities {
 public:
  // Stores the entity in the lowest free slot, or a new one.
  EntityId spawn(Entity entity);
  // The ids of `entities` in list order.
  std::vector<EntityId> spawn_all(std::vector<Entity> entities);
  // Removes and returns the entity; nothing, changing nothing, for an id that does not resolve.
  std::optional<Entity> despawn(EntityId id);

  const Entity* get(EntityId id) const;
  Entity* get_mut(EntityId id);

  // Ids of all stored entities in ascending slot order.
  std::vector<EntityId> ids() const;
  // Entities within `radius` cells of the centre's chunk and local position, as (id, squared
  // distance), nearest first (f32 total order), ties by id. NaN distances are never kept.
  std::vector<std::pair<EntityId, float>> within(const component::Transform& centre, float radius) const;
  // Every stored id under its transform's chunk, ids in slot order.
  std::map<coords::ChunkPos, std::vector<EntityId>> by_chunk() const;

  // Every slot, index = slot index; free ones hold no entity.
  std::span<const Slot> slots() const { return slots_; }
  std::size_t live() const { return live_; }
  std::size_t slot_count() const { return slots_.size(); }
  bool check_invariants() const;

  // For tests of retirement: the slot at `index` takes `generation`, free or retired to match.
  // REQUIRES: index < slot_count().
  void set_generation_for_test(std::uint32_t index, std::uint32_t generation);

 private:
  std::vector<Slot> slots_;          // index = slot index; only grows
  std::vector<std::uint32_t> free_;  // empty, non-retired slots, ascending
  std::size_t live_ = 0;             // occupied slots
};

}  // namespace ostrel_core::ent

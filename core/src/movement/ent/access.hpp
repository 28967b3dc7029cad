#pragma once
// Patch: a script's changes to one entity. Each field left empty keeps the entity's value; a
// present field that is not acceptable (a non-finite position, a negative speed) is skipped.
// Access: what scripts ask of entities, player bodies and mounts; the server implements it.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "identity/identity.hpp"
#include "movement/ent.hpp"
#include "movement/ent/mount.hpp"
#include "proto/records/entity.hpp"

namespace ostrel_core::ent::access {

// Starts a flash of `ticks` ticks, or clears the running one when ticks is 0.
struct FlashChange {
  component::Rgb colour;
  std::uint16_t ticks = 0;
};

struct Patch {
  std::optional<std::array<double, 3>> pos;      // blocks; a teleport, no sweep
  std::optional<std::array<float, 3>> velocity;  // cells per tick
  std::optional<float> yaw;                      // radians
  std::optional<float> pitch;                    // radians
  std::optional<phys::Intent> drive;
  std::optional<float> speed;           // clamped to 16
  std::optional<std::uint32_t> health;  // current health, capped at max
  std::optional<std::uint8_t> anim;
  std::optional<component::Rgb> tint;
  std::optional<FlashChange> flash;
  std::optional<std::vector<std::uint8_t>> opaque;

  // Writes every present and acceptable field; true when any was written (a value equal to
  // the old one counts). Health on an entity without health is not written.
  bool apply(Entity& entity) const;
};

using Vec3d = std::array<double, 3>;
using identity::PlayerUuid;

// What a mod lets a player do: the record clients get, and the sky keys, which no wire field
// carries and the server keeps beside it.
struct Abilities {
  proto::AbilitiesDef wire;
  bool wind_sky = true;
  friend bool operator==(const Abilities&, const Abilities&) = default;
};

// Every refusal is an answer (false, none, an empty list, a boarding code); a lock left poisoned
// gives the same answer and changes nothing. Positions are blocks unless said otherwise.
// Operations that would run hooks (transfers, dismount events) or reach a client (slot
// selections) are queued for the tick.
class Access {
 public:
  virtual ~Access() = default;
  // Adds the entity in "overworld".
  virtual std::optional<EntityId> spawn(Entity entity) = 0;
  // Riders of the removed entity get off with "gone".
  virtual bool despawn(EntityId id) = 0;
  virtual std::optional<Entity> get(EntityId id) = 0;
  // True when the patch wrote something.
  virtual bool patch(EntityId id, const Patch& patch) = 0;
  // The player's mirrored body.
  virtual std::optional<EntityId> player(const PlayerUuid& player) = 0;
  // The domain's live entities within `radius` blocks, nearest first (ties by id); with a
  // source, only entities whose source equals it.
  virtual std::vector<EntityId> within(std::string_view domain, const Vec3d& centre, double radius,
                                       std::optional<std::string_view> source) = 0;
  // A teleport of the player's body, no sweep; a rider gets off with "dismount".
  virtual bool move_player(const PlayerUuid& player, const Vec3d& position) = 0;
  virtual bool select_slot(const PlayerUuid& player, std::uint16_t slot) = 0;
  // Adds cells per tick to the body's velocity, or to its mount's.
  virtual bool shove_player(const PlayerUuid& player, const std::array<float, 3>& impulse) = 0;
  // Accepted for a live entity and a live domain; the tick carries it out.
  virtual bool transfer(EntityId id, std::string_view domain, const Vec3d& position) = 0;
  // False for a player not connected; absent clears them.
  virtual bool set_abilities(const PlayerUuid& player, std::optional<Abilities> abilities) = 0;
  virtual mount::Boarding mount(const PlayerUuid& player, EntityId mount, const mount::MountOptions& options) = 0;
  // True when the player was riding.
  virtual bool dismount(const PlayerUuid& player) = 0;
  virtual std::optional<EntityId> mounted(const PlayerUuid& player) = 0;
};

}  // namespace ostrel_core::ent::access

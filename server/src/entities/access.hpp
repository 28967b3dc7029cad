#pragma once
// ent::Shared: the script engine's entity access. Hooks call it from inside a tick; what belongs
// to a later point of the tick (domain transfers, hot-bar selections, dismount events) is queued
// here and taken by the tick, so no hook ever runs from inside another.
//
// Lock order: the population before the players mutex (mount, despawn); the others release the
// players mutex before they take the population or a queue. A poisoned lock gives the refusal.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/sync.hpp"
#include "entities/population.hpp"
#include "movement/ent/access.hpp"
#include "script/vm.hpp"
#include "world/domain.hpp"

namespace ostrel_server::transport::endpoint {
struct PlayerSim;
}

namespace ostrel_server::ent {

using ostrel_core::script::vm::DismountEvent;

struct TransferRequest {
  std::string domain;
  EntityId entity;
  std::array<double, 3> position{};  // blocks
  friend bool operator==(const TransferRequest&, const TransferRequest&) = default;
};

// Abilities as they are stored: speed 0..=16 and gravity 0..=4, a value that is not finite 1.
ostrel_core::proto::AbilitiesDef clamp_abilities(ostrel_core::proto::AbilitiesDef a);

class Shared final : public ostrel_core::ent::access::Access {
 public:
  using Players = ostrel_core::sync::Mutex<std::map<PlayerUuid, transport::endpoint::PlayerSim>>;
  using Domains = ostrel_core::sync::RwLock<ostrel_core::domain::Registry>;

  Shared(std::shared_ptr<Guarded> population, std::shared_ptr<Domains> domains,
         std::shared_ptr<Players> players);

  std::optional<EntityId> spawn(Entity entity) override;
  bool despawn(EntityId id) override;
  std::optional<Entity> get(EntityId id) override;
  bool patch(EntityId id, const ostrel_core::ent::access::Patch& patch) override;
  std::optional<EntityId> player(const PlayerUuid& player) override;
  std::vector<EntityId> within(std::string_view domain, const ostrel_core::ent::access::Vec3d& centre,
                               double radius, std::optional<std::string_view> source) override;
  bool move_player(const PlayerUuid& player, const ostrel_core::ent::access::Vec3d& position) override;
  bool select_slot(const PlayerUuid& player, std::uint16_t slot) override;
  bool shove_player(const PlayerUuid& player, const std::array<float, 3>& impulse) override;
  bool transfer(EntityId id, std::string_view domain,
                const ostrel_core::ent::access::Vec3d& position) override;
  bool set_abilities(const PlayerUuid& player,
                     std::optional<ostrel_core::ent::access::Abilities> abilities) override;
  ostrel_core::ent::mount::Boarding mount(const PlayerUuid& player, EntityId mount,
                                          const ostrel_core::ent::mount::MountOptions& options) override;
  bool dismount(const PlayerUuid& player) override;
  std::optional<EntityId> mounted(const PlayerUuid& player) override;

  // For the tick: each takes the whole list in the order queued (empty when poisoned).
  std::vector<TransferRequest> take_transfers();
  std::vector<std::pair<PlayerUuid, std::uint16_t>> take_selections();
  std::vector<DismountEvent> take_dismounts();
  void heard_later(DismountEvent event);

 private:
  template <class T>
  using Queue = ostrel_core::sync::Mutex<std::vector<T>>;

  std::shared_ptr<Guarded> population_;
  std::shared_ptr<Domains> domains_;
  std::shared_ptr<Players> players_;
  std::shared_ptr<Queue<TransferRequest>> transfers_;
  std::shared_ptr<Queue<std::pair<PlayerUuid, std::uint16_t>>> selections_;
  std::shared_ptr<Queue<DismountEvent>> dismounts_;
};

}  // namespace ostrel_server::ent

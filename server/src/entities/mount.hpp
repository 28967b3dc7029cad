#pragma once
// Mounts: boarding, one tick of riding, getting off, and who rode what on the previous tick.
// While riding, the rider's input steps the mount through the population and the rider's body
// sits on the seat each tick; every ending gives one dismount event for the on_dismount hooks.
//
// Locks: `board` runs under the population's read lock and then the players lock; `alight`
// under the players lock; `ride`, `seat_rider` and Rides on the simulation thread, inside the
// population's write lock and then the players lock.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <variant>
#include <vector>

#include "entities/population.hpp"
#include "entities/ride.hpp"
#include "hub/records.hpp"
#include "movement/ent/mount.hpp"
#include "script/vm.hpp"

namespace ostrel_server::mount {

using ostrel_core::coords::ChunkPos;
using ostrel_core::ent::mount::Boarding;
using ostrel_core::ent::mount::MountOptions;
using ostrel_core::identity::PlayerUuid;
using ostrel_core::script::vm::DismountEvent;
using ostrel_core::script::vm::DismountReason;
using transport::endpoint::PlayerSim;
using PlayerMap = std::map<PlayerUuid, PlayerSim>;

// The rider's facing in turns as the mount's yaw in radians: turns x -6.2831855.
float mount_yaw(float turns);

// Puts a riding player's body on the seat of a mount facing `yaw` radians; nothing otherwise.
void seat_rider(PlayerSim& rider, float yaw);

Boarding board(const ent::Population& population, PlayerMap& players, const PlayerUuid& rider,
               ostrel_core::ent::EntityId mount, const MountOptions& options);

struct NotRiding {};
struct Riding {};
using RideStep = std::variant<NotRiding, Riding, DismountEvent>;

// One tick: drives the mount with the rider's intent and seats the rider, or ends the ride.
RideStep ride(ent::Population& population, const PlayerUuid& rider, PlayerSim& record,
              const ostrel_core::phys::Intent& intent, const ent::DomainView& world);

// Ends the ride; none when the record rides nothing. Keeping place stops the body where it is;
// otherwise it goes to the mount's feet as the ride last saw them.
std::optional<DismountEvent> alight(const PlayerUuid& rider, PlayerSim& record, DismountReason reason,
                                    bool keep_place);

// The record's feet in blocks: chunk x 16 + local / 3 on each axis.
std::array<double, 3> position_in_blocks(const PlayerSim& record);

// Who rode what at the end of the previous tick, so that a rider who leaves is heard leaving.
class Rides {
 public:
  void note(const PlayerMap& players);
  // A "leave" for each noted rider not in `present`, in player order.
  std::vector<DismountEvent> departed(const std::set<PlayerUuid>& present) const;

 private:
  struct Noted {
    ostrel_core::ent::EntityId mount;
    std::string domain;
    std::array<double, 3> position{};
  };
  std::map<PlayerUuid, Noted> rides_;
};

}  // namespace ostrel_server::mount

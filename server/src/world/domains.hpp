#pragma once
// domains::Shared: the script engine's way to the domain registry. Creating an instance and
// setting a sky take effect at once; destroying only queues the id, because the simulation loop
// must first empty the domain and delete its rows (destroy_doomed).

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "world/domain.hpp"
#include "base/sync.hpp"

namespace ostrel_server::world {
class World;
}

namespace ostrel_server::domains {

using ostrel_core::domain::DomainSky;
using ostrel_core::domain::Registry;
using ostrel_core::domain::UniversalPos;

class Shared final : public ostrel_core::domain::Access {
 public:
  explicit Shared(std::shared_ptr<ostrel_core::sync::Mutex<Registry>> registry) : registry_(std::move(registry)) {}

  std::optional<std::string> create(std::string_view template_id, std::string_view key) override;
  std::optional<std::string> create_at(std::string_view template_id, std::string_view key,
                                       std::optional<UniversalPos> position) override;
  std::optional<UniversalPos> position_of(std::string_view id) override;
  bool set_sky(std::string_view id, std::optional<DomainSky> sky) override;
  // Queues an instance for destruction; false for anything that is not an instance.
  bool destroy(std::string_view id) override;
  bool exists(std::string_view id) override;

  // The queued ids in queue order; the queue is empty afterwards.
  std::vector<std::string> take_doomed();
  // Whether something to be stored changed since the last take; cleared by the take.
  bool take_changed() { return changed_.exchange(false); }

  // For each queued id: refused destructions are logged and the instance stays. Otherwise the
  // domain's rows are deleted first; when that fails the id stays an instance (so no new
  // instance can meet its stale rows) and is queued again for the next call; when it succeeds
  // the instance leaves the registry. `occupants` counts what a domain still holds.
  void destroy_doomed(world::World& world, const std::function<std::uint64_t(std::string_view)>& occupants);
  // Stores instances, positions and skies when they changed; a failure is logged and the change
  // flag set again so that the next call retries.
  void store_if_changed(world::World& world);

 private:
  std::shared_ptr<ostrel_core::sync::Mutex<Registry>> registry_;  // shared with the hub and the loop
  ostrel_core::sync::Mutex<std::vector<std::string>> doomed_;     // in the order queued, repeats kept
  std::atomic<bool> changed_{false};
};

}  // namespace ostrel_server::domains

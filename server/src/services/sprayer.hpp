#pragma once
// The particle service: bursts and badges queued into the player hub for the players in the
// burst's (or the entity's) domain within the radius, a player exactly at the radius included.
// A player counts only when the hub took the item (256 bursts, badges for 64 entities wait at
// most). Locks: the population's read lock is released before the hub's player map is taken;
// the player map before the particle and badge queues.

#include <memory>

#include "entities/population.hpp"
#include "presentation/particle.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
}

namespace ostrel_server::handle {

class Sprayer final : public ostrel_core::particle::Access {
 public:
  Sprayer(std::shared_ptr<transport::endpoint::Shared> hub, std::shared_ptr<ent::Guarded> population)
      : hub_(std::move(hub)), population_(std::move(population)) {}

  std::uint32_t emit(const ostrel_core::particle::ParticleRequest& request) override;
  // 0 for an entity that is gone (a free slot, a reused one, never there).
  std::uint32_t show_over(const ostrel_core::particle::BadgeRequest& request) override;

 private:
  std::shared_ptr<transport::endpoint::Shared> hub_;
  std::shared_ptr<ent::Guarded> population_;
};

}  // namespace ostrel_server::handle

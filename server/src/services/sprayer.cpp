#include "services/sprayer.hpp"

#include "hub/hub.hpp"
#include "services/reach.hpp"

namespace ostrel_server::handle {

namespace particle = ostrel_core::particle;
using reach::PlayerUuid;

std::uint32_t Sprayer::emit(const particle::ParticleRequest& request) {
  return reach::tell_within(*hub_, request.domain, request.burst.pos, request.radius, request.player,
                            [&](const PlayerUuid& p) { return hub_->queue_particles(p, request.burst); });
}

std::uint32_t Sprayer::show_over(const particle::BadgeRequest& request) {
  std::array<double, 3> at{};
  std::string domain;
  {
    auto population = population_->read();
    if (!population) return 0;
    const ent::EntityId id{request.badge.entity};
    const ent::Entity* e = (*population)->get(id);
    if (e == nullptr) return 0;
    at = reach::feet_in_blocks(e->transform.chunk, e->transform.local);
    domain = (*population)->domain_of(id);
  }
  return reach::tell_within(*hub_, domain, at, request.radius, request.player,
                            [&](const PlayerUuid& p) { return hub_->queue_badge(p, request.badge); });
}

}  // namespace ostrel_server::handle

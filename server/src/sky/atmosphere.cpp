#include "sky/atmosphere.hpp"

#include <utility>

#include "proto/server.hpp"

namespace ostrel_server::atmosphere {

namespace proto = ostrel_core::proto;

bool Shared::set_sky_modifier(const PlayerUuid& player, std::optional<core::SkyModifier> v) {
  if (!hub_->is_online(player)) return false;
  hub_->set_sky_modifier(player, std::move(v));
  return true;
}

bool Shared::set_precipitation(const PlayerUuid& player, std::optional<core::Precipitation> v) {
  if (!hub_->is_online(player)) return false;
  hub_->set_precipitation(player, std::move(v));
  return true;
}

bool Shared::set_rainbow(const PlayerUuid& player, std::optional<core::Rainbow> v) {
  if (!hub_->is_online(player)) return false;
  hub_->set_rainbow(player, v);
  return true;
}

bool Shared::set_clouds(const PlayerUuid& player, std::optional<core::Clouds> v) {
  if (!hub_->is_online(player)) return false;
  hub_->set_clouds(player, v);
  return true;
}

bool Shared::set_cloud_map(const PlayerUuid& player, std::optional<core::CloudMap> v) {
  if (!hub_->is_online(player)) return false;
  hub_->set_cloud_map(player, std::move(v));
  return true;
}

std::uint32_t Shared::flash(const core::FlashRequest& request) {
  return tell_in_reach(request.domain, request.pos, request.player, proto::server::SkyFlash{request.flash},
                       request.radius);
}

std::uint32_t Shared::lightning(const ostrel_core::lightning::LightningRequest& request) {
  return tell_in_reach(request.domain, request.lightning.from, request.player,
                       proto::server::LightningStrike{request.lightning}, request.radius);
}

std::uint32_t Shared::tell_in_reach(std::string_view domain, const std::array<double, 3>& point,
                                    const std::optional<PlayerUuid>& only,
                                    const transport::endpoint::EntityMessage& message, float radius) {
  auto players = hub_->players()->lock();
  if (!players) return 0;
  const double reach = static_cast<double>(radius);
  const double reach_sq = reach * reach;
  std::uint32_t told = 0;
  for (const auto& [id, sim] : **players) {
    if (sim.domain != domain || (only && *only != id)) continue;
    const std::int32_t chunk[3] = {sim.chunk.x, sim.chunk.y, sim.chunk.z};
    double dist_sq = 0.0;
    for (std::size_t a = 0; a < 3; ++a) {
      const double at = static_cast<double>(chunk[a]) * 16.0 + static_cast<double>(sim.local[a]) / 3.0;
      const double d = at - point[a];
      dist_sq += d * d;
    }
    if (dist_sq > reach_sq) continue;
    if (hub_->offer_entity_message(id, message)) ++told;
  }
  return told;
}

}  // namespace ostrel_server::atmosphere

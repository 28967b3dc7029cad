#pragma once
// The server's atmosphere service: standing weather values handed to the player hub for players
// who are online, and flashes and bolts queued for every player in reach.
//
// Locks: tell_in_reach holds the hub's player map while it queues, and the hub's message lists
// are taken inside it (players, then message lists). The setters take the hub's per-effect locks
// after its presence lock, one at a time.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>

#include "hub/hub.hpp"
#include "hub/records.hpp"
#include "presentation/atmosphere.hpp"

namespace ostrel_server::atmosphere {

namespace core = ostrel_core::atmosphere;
using ostrel_core::identity::PlayerUuid;
using Hub = transport::endpoint::Shared;

class Shared final : public core::Access {
 public:
  explicit Shared(std::shared_ptr<Hub> hub) : hub_(std::move(hub)) {}

  bool set_sky_modifier(const PlayerUuid& player, std::optional<core::SkyModifier> v) override;
  std::uint32_t flash(const core::FlashRequest& request) override;
  std::uint32_t lightning(const ostrel_core::lightning::LightningRequest& request) override;
  bool set_precipitation(const PlayerUuid& player, std::optional<core::Precipitation> v) override;
  bool set_rainbow(const PlayerUuid& player, std::optional<core::Rainbow> v) override;
  bool set_clouds(const PlayerUuid& player, std::optional<core::Clouds> v) override;
  bool set_cloud_map(const PlayerUuid& player, std::optional<core::CloudMap> v) override;

  // Queues `message` for each player in `domain` (byte for byte) whose feet lie within `radius`
  // blocks of `point` (a player exactly at the radius is in reach), narrowed to `only` when
  // given; answers how many players' outboxes took it. Players are visited in id order; a
  // poisoned player map answers 0.
  std::uint32_t tell_in_reach(std::string_view domain, const std::array<double, 3>& point,
                              const std::optional<PlayerUuid>& only,
                              const transport::endpoint::EntityMessage& message, float radius);

 private:
  const std::shared_ptr<Hub> hub_;
};

}  // namespace ostrel_server::atmosphere

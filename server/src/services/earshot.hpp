#pragma once
// The sound service: plays, loops and the world clock, queued into the player hub's single
// messages, one copy per player told.
//
// A play or a positioned loop reaches the players in its domain within its radius (a player
// exactly at the radius is told); an everywhere loop, a stop and a new time of day reach every
// player in every domain, or the one player named. A player counts only when the hub took the
// message. Lock order: the hub's player map, then its outboxes.

#include <memory>
#include <optional>

#include "presentation/sound.hpp"
#include "hub/records.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
}

namespace ostrel_server::handle {

class Earshot final : public ostrel_core::sound::Access {
 public:
  explicit Earshot(std::shared_ptr<transport::endpoint::Shared> hub) : hub_(std::move(hub)) {}

  std::uint32_t play(const ostrel_core::sound::PlayRequest& request) override;
  std::uint32_t start_loop(const ostrel_core::sound::LoopRequest& request) override;
  float time_of_day() override;
  // Wraps `t` into 0..1 (1.25 is 0.25, -0.25 is 0.75), sets the hub's counter and tells every
  // player the new day fraction at once.
  bool set_time_of_day(float t) override;
  std::uint32_t stop_loop(const ostrel_core::sound::StopRequest& request) override;

  // The message for every player in the world, or for `player` alone when present and in it.
  std::uint32_t tell_all(const transport::endpoint::EntityMessage& message,
                         const std::optional<ostrel_core::identity::PlayerUuid>& player);

 private:
  std::shared_ptr<transport::endpoint::Shared> hub_;
};

}  // namespace ostrel_server::handle

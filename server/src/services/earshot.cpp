#include "services/earshot.hpp"

#include <cmath>

#include "base/num.hpp"
#include "hub/hub.hpp"
#include "services/reach.hpp"

namespace ostrel_server::handle {

namespace proto = ostrel_core::proto;
namespace sound = ostrel_core::sound;
using reach::PlayerUuid;

std::uint32_t Earshot::play(const sound::PlayRequest& request) {
  const proto::server::PlaySound message{request.sound, request.pos, request.radius, request.gain,
                                         request.entity};
  return reach::tell_within(*hub_, request.domain, request.pos, request.radius, request.player,
                            [&](const PlayerUuid& p) { return hub_->offer_entity_message(p, message); });
}

std::uint32_t Earshot::start_loop(const sound::LoopRequest& request) {
  const proto::server::StartSoundLoop message{request.id, request.sound, request.pos, request.radius,
                                              request.gain, static_cast<std::uint8_t>(request.everywhere ? 1 : 0),
                                              request.fade_ticks};
  if (request.everywhere) return tell_all(message, request.player);
  return reach::tell_within(*hub_, request.domain, request.pos, request.radius, request.player,
                            [&](const PlayerUuid& p) { return hub_->offer_entity_message(p, message); });
}

float Earshot::time_of_day() { return hub_->day_fraction(); }

bool Earshot::set_time_of_day(float t) {
  const std::uint32_t day = hub_->day_length();
  if (!std::isfinite(t) || day == 0) return false;
  double part = static_cast<double>(t);
  part -= std::trunc(part);  // keeps the sign: -0.25 stays -0.25, -0.0 stays -0.0
  if (part < 0.0) part += 1.0;
  const auto counter = ostrel_core::num::saturate<std::uint64_t>(part * static_cast<double>(day)) % day;
  hub_->set_time_of_day(counter);
  tell_all(proto::server::TimeOfDay{hub_->day_fraction()}, std::nullopt);
  return true;
}

std::uint32_t Earshot::stop_loop(const sound::StopRequest& request) {
  return tell_all(proto::server::StopSoundLoop{request.id, request.fade_ticks}, request.player);
}

std::uint32_t Earshot::tell_all(const transport::endpoint::EntityMessage& message,
                                const std::optional<PlayerUuid>& player) {
  auto players = hub_->players()->lock();
  if (!players) return 0;
  std::uint32_t told = 0;
  if (player) {
    if ((*players)->contains(*player) && hub_->offer_entity_message(*player, message)) told = 1;
    return told;
  }
  for (const auto& [id, sim] : **players) {
    if (hub_->offer_entity_message(id, message)) ++told;
  }
  return told;
}

}  // namespace ostrel_server::handle

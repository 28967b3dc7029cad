#include "services/hud.hpp"

#include "hub/hub.hpp"

namespace ostrel_server::hud {

bool Shared::set_hud(std::string_view mod_id, const ostrel_core::identity::PlayerUuid& player,
                     ostrel_core::hud::state::ValueSet values) {
  if (!hub_->is_online(player)) return false;
  hub_->set_hud_values(player, mod_id, std::move(values));
  return true;
}

bool Shared::is_operator(const ostrel_core::identity::PlayerUuid& player) {
  return hub_->operators().contains(player);
}

bool Shared::chat_to(const ostrel_core::identity::PlayerUuid& player, std::string line) {
  return hub_->tell(player, std::move(line));
}

}  // namespace ostrel_server::hud

#pragma once
// The HUD service: a mod's HUD values, the operator list and private chat lines, through the
// player hub.

#include <memory>

#include "presentation/hud/state.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
}

namespace ostrel_server::hud {

class Shared final : public ostrel_core::hud::state::Access {
 public:
  explicit Shared(std::shared_ptr<transport::endpoint::Shared> hub) : hub_(std::move(hub)) {}

  // Dropped for a player who is not online.
  bool set_hud(std::string_view mod_id, const ostrel_core::identity::PlayerUuid& player,
               ostrel_core::hud::state::ValueSet values) override;
  bool is_operator(const ostrel_core::identity::PlayerUuid& player) override;
  // False, and nothing kept, for a player who is not online or whose 256 lines wait.
  bool chat_to(const ostrel_core::identity::PlayerUuid& player, std::string line) override;

 private:
  std::shared_ptr<transport::endpoint::Shared> hub_;
};

}  // namespace ostrel_server::hud

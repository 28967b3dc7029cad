#pragma once
// Screens: the dialog service scripts reach, over the player hub. It sends dialogs, closes and
// hover lines to one player, in the world's material ids, and keeps the record of open dialogs:
// by player and form, the mod that opened each. Neither trees nor hover lines are kept.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/sync.hpp"
#include "identity/identity.hpp"
#include "presentation/ui/host.hpp"

namespace ostrel_server::transport::endpoint {
class Shared;
}

namespace ostrel_server::handle {

class Screens final : public ostrel_core::ui::host::Access {
 public:
  explicit Screens(std::shared_ptr<transport::endpoint::Shared> hub) : hub_(std::move(hub)) {}

  // Sends the dialog and then the player's inventory views. False, and nothing recorded, for a
  // text that is not a player id or a message the player's queue refuses.
  bool show(const ostrel_core::ui::host::ShowRequest& request) override;
  // Whether the dialog was recorded open; CloseDialog goes to a valid player id either way.
  bool close(std::string_view player, std::string_view form) override;
  // False for a text that is not a player id or a refused message.
  bool set_hover(std::string_view player, ostrel_core::ui::host::HoverLines lines) override;

  // The mod that opened the player's dialog `form`, while it is open.
  std::optional<std::string> owner(const ostrel_core::identity::PlayerUuid& player, std::string_view form);
  // Drops every record of a player who left.
  void forget_player(const ostrel_core::identity::PlayerUuid& player);

 private:
  using Key = std::pair<ostrel_core::identity::PlayerUuid, std::string>;
  // A poisoned record reads as empty and takes no change.
  std::optional<std::string> take(const ostrel_core::identity::PlayerUuid& player, std::string_view form);

  std::shared_ptr<transport::endpoint::Shared> hub_;
  ostrel_core::sync::Mutex<std::map<Key, std::string>> open_;
};

}  // namespace ostrel_server::handle

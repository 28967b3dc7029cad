#pragma once
// The tool a player holds, as scripts read and set it (`game.get_tool`, `game.set_tool`).

#include <optional>
#include <string>

#include "identity/identity.hpp"

namespace ostrel_core::dig {

class Tools {
 public:
  virtual ~Tools() = default;
  // The registered name of the player's selected tool; none when not connected or none chosen.
  virtual std::optional<std::string> tool(const identity::PlayerUuid& player) = 0;
  // Selects the named tool, or clears the selection when absent. False for a name no tool has
  // or a player not connected.
  virtual bool set_tool(const identity::PlayerUuid& player, std::optional<std::string> tool) = 0;
};

}  // namespace ostrel_core::dig

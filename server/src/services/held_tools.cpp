#include "services/held_tools.hpp"

#include "hub/hub.hpp"

namespace ostrel_server::handle {

std::optional<std::string> HeldTools::tool(const ostrel_core::identity::PlayerUuid& player) {
  auto g = hub_->players()->lock();
  if (!g) return std::nullopt;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return std::nullopt;
  return it->second.tool;
}

bool HeldTools::set_tool(const ostrel_core::identity::PlayerUuid& player, std::optional<std::string> tool) {
  if (tool && !hub_->tools().contains(*tool)) return false;
  return hub_->select_tool(player, std::move(tool));
}

}  // namespace ostrel_server::handle

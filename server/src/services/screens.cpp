#include "services/screens.hpp"

#include <variant>

#include "hub/hub.hpp"
#include "proto/server.hpp"

namespace ostrel_server::handle {
namespace {

namespace server = ostrel_core::proto::server;
using ostrel_core::identity::PlayerUuid;
using ostrel_core::ui::host::HoverLines;
using ostrel_core::ui::host::ShowRequest;

std::optional<PlayerUuid> parse(std::string_view text) {
  auto id = PlayerUuid::from_hex(text);
  return id ? std::optional(*id) : std::nullopt;
}

std::uint16_t to_world(const transport::endpoint::Shared& hub, std::uint16_t runtime) {
  return hub.material_map().to_world(runtime).value_or(ostrel_core::material::kUnknown);
}

// The tree in the world's material ids: shape editors' brushes and filled cells.
ostrel_core::ui::tree::Tree in_world_ids(const transport::endpoint::Shared& hub, ostrel_core::ui::tree::Tree tree) {
  for (auto& node : tree.nodes) {
    if (auto* editor = std::get_if<ostrel_core::ui::tree::ShapeEditor>(&node.widget)) {
      editor->material = to_world(hub, editor->material);
      for (auto& cell : editor->cells) {
        if (cell != 0) cell = to_world(hub, cell);
      }
    }
  }
  return tree;
}

}  // namespace

bool Screens::show(const ShowRequest& request) {
  const auto player = parse(request.player);
  if (!player) return false;
  auto tree = in_world_ids(*hub_, request.tree);
  const std::uint8_t compact = request.compact ? 1 : 0;
  const bool refused =
      request.update
          ? hub_->push_entity_message(*player, server::UpdateDialog{request.form, std::move(tree), compact})
          : hub_->push_entity_message(*player, server::ShowDialog{request.form, std::move(tree), compact});
  if (!refused) {
    if (auto open = open_.lock()) (**open)[Key{*player, request.form}] = request.mod;
  }
  for (const auto& view : hub_->view_updates(*player)) hub_->push_entity_message(*player, view);
  return !refused;
}

std::optional<std::string> Screens::take(const PlayerUuid& player, std::string_view form) {
  auto open = open_.lock();
  if (!open) return std::nullopt;
  auto node = (*open)->extract(Key{player, std::string(form)});
  if (node.empty()) return std::nullopt;
  return std::move(node.mapped());
}

bool Screens::close(std::string_view player, std::string_view form) {
  const auto id = parse(player);
  if (!id) return false;
  const bool was_open = take(*id, form).has_value();
  hub_->push_entity_message(*id, server::CloseDialog{std::string(form)});
  return was_open;
}

bool Screens::set_hover(std::string_view player, HoverLines lines) {
  const auto id = parse(player);
  if (!id) return false;
  for (auto& line : lines) line.first = to_world(*hub_, line.first);
  return !hub_->push_entity_message(*id, server::SetHover{std::move(lines)});
}

std::optional<std::string> Screens::owner(const PlayerUuid& player, std::string_view form) {
  auto open = open_.lock();
  if (!open) return std::nullopt;
  auto it = (*open)->find(Key{player, std::string(form)});
  if (it == (*open)->end()) return std::nullopt;
  return it->second;
}

void Screens::forget_player(const PlayerUuid& player) {
  auto open = open_.lock();
  if (!open) return;
  auto& records = **open;
  auto it = records.lower_bound(Key{player, std::string()});
  while (it != records.end() && it->first.first == player) it = records.erase(it);
}

}  // namespace ostrel_server::handle

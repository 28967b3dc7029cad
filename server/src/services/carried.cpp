#include "services/carried.hpp"

#include "hub/hub.hpp"

namespace ostrel_server::handle {

using ostrel_core::inventory::slots::kMainView;
using ostrel_core::inventory::slots::Slots;

std::vector<Stack> Carried::contents(const PlayerUuid& player, std::string_view view) {
  return hub_->contents_of(player, view);
}

std::uint32_t Carried::give(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                            Stack stack) {
  return hub_->give(player, view, slot, std::move(stack));
}

std::optional<Stack> Carried::held(const PlayerUuid& player) {
  return slot(player, kMainView, hub_->selected_slot(player).value_or(0));
}

std::optional<Stack> Carried::slot(const PlayerUuid& player, std::string_view view, std::size_t index) {
  auto found = hub_->with_slots(player, [&](Slots& s) -> std::optional<Stack> {
    const auto* v = s.find(view);
    if (v == nullptr || index >= v->slots.size()) return std::nullopt;
    return v->slots[index];
  });
  return found.value_or(std::nullopt);
}

std::uint32_t Carried::take(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                            const Stack& like, std::uint32_t units) {
  return hub_->take(player, view, slot, like, units);
}

}  // namespace ostrel_server::handle

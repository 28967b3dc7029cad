// The hub's inventories: every online player's slot views and cursor, the operations that move
// units in and out of them, and the dirty marks that make a connection task send them again.
// No operation here creates or destroys a unit: what does not fit goes back to the caller.

#include <utility>

#include "base/log.hpp"
#include "hub/hub.hpp"

namespace ostrel_server::transport::endpoint {

namespace proto = ostrel_core::proto;
namespace slots = ostrel_core::inventory::slots;
using slots::kMainView;

namespace {
constexpr std::string_view kTarget = "ostrel_server::transport::endpoint";
constexpr std::size_t kStowBoundary = 9;  // shift-click alone stows across the hotbar line
}  // namespace

Slots Shared::fresh_slots() const {
  Slots s = Slots::for_player_sized(main_slots_, views_);
  s.set_items(item_materials_);
  s.set_grain(slot_grain_);
  return s;
}

void Shared::mark_dirty(const PlayerUuid& player) {
  if (auto g = inventory_dirty_.lock()) (*g)->insert(player);
}

void Shared::mark_inventory_dirty(const PlayerUuid& player) { mark_dirty(player); }

bool Shared::take_inventory_dirty(const PlayerUuid& player) {
  auto g = inventory_dirty_.lock();
  return g && (*g)->erase(player) > 0;
}

void Shared::ensure_inventory(const PlayerUuid& player) {
  auto g = inventories_.lock();
  if (g && !(*g)->contains(player)) (*g)->emplace(player, fresh_slots());
}

void Shared::restore_inventory(const PlayerUuid& player, Slots slots) {
  slots.set_items(item_materials_);
  slots.set_grain(slot_grain_);
  {
    auto g = inventories_.lock();
    if (!g) return;
    (*g)->insert_or_assign(player, std::move(slots));
  }
  mark_dirty(player);
}

void Shared::forget_inventory(const PlayerUuid& player) {
  if (auto g = inventories_.lock()) (*g)->erase(player);
}

std::vector<std::pair<PlayerUuid, Slots>> Shared::all_inventories() {
  auto g = inventories_.lock();
  if (!g) return {};
  return {(*g)->begin(), (*g)->end()};
}

std::optional<Slots> Shared::slots_of(const PlayerUuid& player) {
  auto g = inventories_.lock();
  if (!g) return std::nullopt;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return std::nullopt;
  return it->second;
}

std::vector<Stack> Shared::inventory_of(const PlayerUuid& player) { return contents_of(player, kMainView); }

std::vector<Stack> Shared::contents_of(const PlayerUuid& player, std::string_view view) {
  auto g = inventories_.lock();
  if (!g) return {};
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return {};
  return it->second.consolidated(view);
}

std::uint32_t Shared::give(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                           Stack stack) {
  const std::uint32_t all = stack.units;
  {
    auto players = players_->lock();
    if (!players || !(*players)->contains(player)) return all;
  }
  std::uint32_t left = all;
  {
    auto g = inventories_.lock();
    if (!g) return all;
    auto& s = (*g)->try_emplace(player, fresh_slots()).first->second;
    if (slot) {
      left = s.give_into(view, *slot, std::move(stack)) ? 0 : all;
    } else {
      auto rest = s.insert_within(view, std::move(stack));
      left = rest ? rest->units : 0;
    }
  }
  if (left < all) mark_dirty(player);
  return left;
}

bool Shared::click_slot(const PlayerUuid& player, std::string_view view, std::size_t slot, std::uint8_t click,
                        std::optional<std::string_view> other) {
  auto g = inventories_.lock();
  if (!g) return false;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return false;
  Slots& s = it->second;
  bool changed = false;
  switch (click) {
    case 0:
      changed = s.left_click(view, slot);
      break;
    case 1:
      changed = s.split_or_place(view, slot, false);
      break;
    case 2:
      if (other) {
        changed = s.transfer(view, slot, *other == view ? kMainView : *other);
      } else {
        changed = s.stow(view, slot, kStowBoundary);
      }
      break;
    case 3:
      changed = s.split_or_place(view, slot, true);
      break;
    default:  // a click byte that names no click moves nothing
      return false;
  }
  // Marked while `inventories` is still held: inventories first, inventory_dirty second.
  if (changed) mark_dirty(player);
  return changed;
}

bool Shared::swap_offhand(const PlayerUuid& player, std::size_t slot) {
  bool changed = false;
  {
    auto g = inventories_.lock();
    if (!g) return false;
    auto it = (*g)->find(player);
    if (it == (*g)->end()) return false;
    changed = it->second.swap_offhand(kMainView, slot);
  }
  if (changed) mark_dirty(player);
  return changed;
}

bool Shared::return_held(const PlayerUuid& player) {
  bool changed = false;
  {
    auto g = inventories_.lock();
    if (!g) return false;
    auto it = (*g)->find(player);
    if (it == (*g)->end()) return false;
    changed = it->second.return_held(kMainView);
  }
  if (changed) mark_dirty(player);
  return changed;
}

std::optional<Stack> Shared::untake_held(const PlayerUuid& player, Stack stack) {
  std::optional<Stack> lost;
  {
    auto g = inventories_.lock();
    if (!g) return stack;
    auto it = (*g)->find(player);
    if (it == (*g)->end()) return stack;
    lost = it->second.untake_held(kMainView, std::move(stack));
  }
  if (lost) {
    OSTREL_WARN(kTarget, "an unclaimed drop fitted nowhere and is lost",
                ostrel_core::log::value("player", player.to_hex()),
                ostrel_core::log::value("units", lost->units));
  }
  mark_dirty(player);
  return lost;
}

std::optional<Stack> Shared::take_held(const PlayerUuid& player, std::uint32_t mode) {
  std::optional<Stack> taken;
  {
    auto g = inventories_.lock();
    if (!g) return std::nullopt;
    auto it = (*g)->find(player);
    if (it == (*g)->end()) return std::nullopt;
    taken = it->second.take_held(mode);
  }
  if (taken) mark_dirty(player);
  return taken;
}

std::uint32_t Shared::take(const PlayerUuid& player, std::string_view view, std::optional<std::size_t> slot,
                           const Stack& like, std::uint32_t units) {
  std::uint32_t taken = 0;
  {
    auto g = inventories_.lock();
    if (!g) return 0;
    auto it = (*g)->find(player);
    if (it == (*g)->end()) return 0;
    taken = slot ? it->second.take_from(view, *slot, like, units) : it->second.take(view, like, units);
  }
  if (taken > 0) mark_dirty(player);
  return taken;
}

std::uint32_t Shared::debit(const PlayerUuid& player, const Stack& like, std::uint32_t units) {
  auto g = inventories_.lock();
  if (!g) return 0;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return 0;
  std::uint32_t taken = it->second.take(kMainView, like, units);
  if (taken > 0) mark_dirty(player);  // inventories first, inventory_dirty second
  return taken;
}

std::vector<Stack> Shared::credit(const PlayerUuid& player, std::vector<Stack> stacks) {
  if (stacks.empty()) return {};
  std::vector<Stack> rest;
  {
    auto g = inventories_.lock();
    if (!g) {
      rest = std::move(stacks);
    } else {
      auto& s = (*g)->try_emplace(player, fresh_slots()).first->second;
      for (auto& stack : stacks) {
        if (auto left = s.insert_within(kMainView, std::move(stack))) rest.push_back(std::move(*left));
      }
    }
  }
  mark_dirty(player);
  return rest;
}

bool Shared::can_carry(const PlayerUuid& player, const std::vector<Stack>& stacks) {
  if (stacks.empty()) return true;
  auto g = inventories_.lock();
  if (!g) return false;
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return true;  // a credit would make a fresh inventory
  return it->second.fits(kMainView, stacks);
}

std::pair<std::optional<Stack>, std::optional<Stack>> Shared::hands_of(const PlayerUuid& player) {
  std::size_t selected = selected_slot(player).value_or(0);
  auto g = inventories_.lock();
  if (!g) return {};
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return {};
  const slots::View* main = it->second.find(kMainView);
  if (!main) return {};
  std::pair<std::optional<Stack>, std::optional<Stack>> hands;
  if (selected < main->slots.size()) hands.first = main->slots[selected];
  if (main->slots.size() > slots::kOffHandSlot) hands.second = main->slots[slots::kOffHandSlot];
  return hands;
}

proto::StackDef Shared::wire_stack(const Stack& stack) const {
  proto::StackDef def{.material = to_world(stack.material),
                      .count = stack.units,
                      .shape = stack.shape.value_or(0),
                      .detail = stack.detail};
  if (stack.cells) {
    def.cells.reserve(stack.cells->size());
    for (MaterialId c : *stack.cells) def.cells.push_back(c == 0 ? 0 : to_world(c));
  }
  return def;
}

std::vector<proto::server::ContainerView> Shared::view_updates(const PlayerUuid& player) {
  // Built from the stored slots under the lock: a copy of the whole inventory would cost more.
  auto g = inventories_.lock();
  if (!g) return {};
  auto it = (*g)->find(player);
  if (it == (*g)->end()) return {};
  const Slots* s = &it->second;
  std::optional<proto::StackDef> held;
  if (s->held()) held = wire_stack(*s->held());
  std::vector<proto::server::ContainerView> out;
  out.reserve(s->views().size());
  for (const auto& [name, view] : s->views()) {
    proto::server::ContainerView m{.view = name, .held = held};
    m.slots.reserve(view.slots.size());
    for (const auto& slot : view.slots) {
      m.slots.push_back(slot ? std::optional(wire_stack(*slot)) : std::nullopt);
    }
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace ostrel_server::transport::endpoint

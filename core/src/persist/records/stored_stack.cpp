#include "persist/records/stored_stack.hpp"

#include "persist/records/cutcells.hpp"

namespace ostrel_core::persist::stored_stack {

std::optional<StoredStack> freeze(const inventory::Stack& stack, const idmap::MaterialMap& map) {
  auto material = map.to_world(stack.material);
  if (!material) return std::nullopt;
  StoredStack out{*material, stack.units, stack.shape, stack.detail, std::nullopt};
  if (stack.cells) {
    out.cells = cutcells::to_world(*stack.cells, map);
    if (!out.cells) return std::nullopt;
  }
  return out;
}

std::optional<inventory::Stack> thaw(const StoredStack& s, const idmap::MaterialMap& map) {
  return cutcells::thaw(s.material, s.count, s.occupancy.has_value(), s.occupancy.value_or(0), s.cells,
                        s.text, map);
}

std::vector<std::optional<StoredStack>> freeze_slots(
    const std::vector<std::optional<inventory::Stack>>& slots, const idmap::MaterialMap& map,
    std::size_t& dropped) {
  std::vector<std::optional<StoredStack>> out;
  out.reserve(slots.size());
  for (const auto& slot : slots) {
    if (!slot) {
      out.emplace_back();
      continue;
    }
    out.push_back(freeze(*slot, map));
    if (!out.back()) ++dropped;
  }
  return out;
}

}  // namespace ostrel_core::persist::stored_stack

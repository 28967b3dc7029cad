#include "persist/records/cutcells.hpp"

namespace ostrel_core::persist::cutcells {

std::optional<std::vector<idmap::WorldId>> to_world(const inventory::Cells& cells, const idmap::MaterialMap& map) {
  std::vector<idmap::WorldId> out(cells.size());
  for (std::size_t i = 0; i < cells.size(); ++i) {
    if (cells[i] == 0) continue;
    auto w = map.to_world(cells[i]);
    if (!w) return std::nullopt;
    out[i] = *w;
  }
  return out;
}

std::optional<inventory::Cells> to_runtime(std::span<const idmap::WorldId> cells, const idmap::MaterialMap& map) {
  inventory::Cells out{};
  if (cells.size() != out.size()) return std::nullopt;
  for (std::size_t i = 0; i < out.size(); ++i) {
    if (cells[i] == 0) continue;
    auto r = map.to_runtime(cells[i]);
    if (!r) return std::nullopt;
    out[i] = *r;
  }
  return out;
}

std::optional<inventory::Stack> thaw(idmap::WorldId material, std::uint32_t count, bool cut, std::uint32_t mask,
                                     const std::optional<std::vector<idmap::WorldId>>& cells,
                                     const std::optional<std::string>& text, const idmap::MaterialMap& map) {
  if (cells) {
    auto runtime = to_runtime(*cells, map);
    if (!runtime) return std::nullopt;
    auto stack = inventory::Stack::of_cells(*runtime, count);
    if (!stack) return std::nullopt;
    stack->detail = text;
    return stack;
  }
  auto runtime = map.to_runtime(material);
  if (!runtime || count == 0 || *runtime == 0) return std::nullopt;
  inventory::Stack stack;
  stack.material = *runtime;
  stack.units = count;
  stack.detail = text;
  if (cut) {
    const std::uint32_t occupancy = mask & inventory::OCCUPANCY_FULL;
    if (occupancy != 0 && occupancy != inventory::OCCUPANCY_FULL) stack.shape = occupancy;
  }
  return stack;
}

}  // namespace ostrel_core::persist::cutcells

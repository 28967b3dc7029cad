#include "placing/claim.hpp"

#include "hub/hub.hpp"

namespace ostrel_server::placing {

std::optional<PlacedItem> claim(const transport::endpoint::Shared& hub,
                                const transport::endpoint::PlacementRequest& request) {
  const auto& map = hub.material_map();
  auto translate = [&](std::uint16_t world) -> std::optional<MaterialId> {
    if (world == 0 || map.identity) return world;
    auto it = map.reverse.find(world);
    if (it == map.reverse.end()) return std::nullopt;
    return it->second;
  };
  if (!request.cells.empty()) {
    ostrel_core::block::Cells cells{};
    for (std::size_t i = 0; i < cells.size() && i < request.cells.size(); ++i) {
      auto m = translate(request.cells[i]);
      if (!m) return std::nullopt;
      cells[i] = *m;
    }
    auto stack = ostrel_core::inventory::Stack::of_cells(cells, 1);
    if (!stack) return std::nullopt;
    return PlacedItem{stack->material, stack->shape, stack->cells, request.detail};
  }
  auto m = translate(request.material);
  if (!m) return std::nullopt;
  const std::uint32_t shape = request.occupancy & ostrel_core::block::kOccupancyFull;
  PlacedItem item{*m, std::nullopt, std::nullopt, request.detail};
  if (shape >= 1 && shape <= 0x7FFFFFE) item.shape = shape;
  return item;
}

}  // namespace ostrel_server::placing
